#include "proxy/Reply.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace orvalis::proxy;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

TEST(ReplyRFC, FormattedLines) {
    TReplyRFC reply(nullptr);
    EXPECT_THAT(reply.FormattedReply(), IsEmpty());

    reply.SetReply(100, "Help follows");
    EXPECT_THAT(reply.FormattedReply(), ElementsAre("100 Help follows"));

    reply.SetReply(400, "Unknown Command\r\nPUT / HTTP/1.1");
    EXPECT_THAT(reply.FormattedReply(), ElementsAre("400-Unknown Command", "400 PUT / HTTP/1.1"));

    reply.SetReply(250, "");
    EXPECT_THAT(reply.FormattedReply(), ElementsAre("250"));

    // Without a code the text lines go out as they are.
    reply.SetReply("", "a\nb");
    EXPECT_THAT(reply.FormattedReply(), ElementsAre("a", "b"));
}

TEST(ReplyRFC, CodeIsWrittenBackInDecimal) {
    TReplyRFC reply(nullptr);
    reply.SetReply(" 250 ", "x");
    EXPECT_EQ(reply.Code(), " 250 ");
    EXPECT_THAT(reply.FormattedReply(), ElementsAre("250 x"));
}

TEST(ReplyRFC, CodeValidity) {
    TReplyRFC reply(nullptr);
    for (const char* valid : {"", "  ", "100", "999", "250"}) {
        EXPECT_TRUE(reply.CheckIfCodeIsValid(valid)) << valid;
    }
    for (const char* invalid : {"99", "1000", "0", "-200", "abc", "20O"}) {
        EXPECT_FALSE(reply.CheckIfCodeIsValid(invalid)) << invalid;
    }
    reply.SetReply(200, "kept");
    try {
        reply.SetCode("1000");
        FAIL() << "no error";
    } catch (const EReplyCodeError& e) {
        EXPECT_STREQ(e.what(), "Reply Code is not valid: 1000");
    }
    // A refused code leaves the reply as it was.
    EXPECT_EQ(reply.Code(), "200");
    EXPECT_THAT(reply.Text, ElementsAre("kept"));
}

TEST(ReplyRFC, SettingCodeEmptiesTextUnlessUnchanged) {
    TReplyRFC reply(nullptr);
    reply.SetReply(200, "Ok there");
    reply.SetCode("200");
    EXPECT_THAT(reply.Text, ElementsAre("Ok there"));
    reply.SetCode("201");
    EXPECT_THAT(reply.Text, IsEmpty());
    reply.Clear();
    EXPECT_EQ(reply.Code(), "");
    EXPECT_FALSE(reply.HasCode());
}

TEST(ReplyRFC, HasReply) {
    TReplyRFC reply(nullptr);
    EXPECT_FALSE(reply.HasReply());
    reply.SetCode("  ");
    EXPECT_FALSE(reply.HasReply());
    reply.Text = {"line"};
    EXPECT_TRUE(reply.HasReply());
    reply.SetReply(300, "");
    EXPECT_TRUE(reply.HasReply());
}

TEST(ReplyRFC, AssignCopiesCodeByNumberThenText) {
    TReplyRFC source(nullptr);
    source.SetReply(" 300", "Too many\nlater");
    TReplyRFC target(nullptr);
    target.SetReply(500, "old");
    target.Assign(source);
    EXPECT_EQ(target.Code(), "300");
    EXPECT_THAT(target.Text, ElementsAre("Too many", "later"));

    // A source without a code empties the target's code instead of failing.
    TReplyRFC empty(nullptr);
    target.Assign(empty);
    EXPECT_FALSE(target.HasCode());
    EXPECT_THAT(target.Text, IsEmpty());
}

TEST(ReplyRFC, ReadsFormattedLines) {
    TReplyRFC reply(nullptr);
    reply.SetFormattedReply({"250-first", "250-second", "250 last"});
    EXPECT_EQ(reply.NumericCode(), 250);
    EXPECT_THAT(reply.Text, ElementsAre("first", "second", "last"));

    reply.SetFormattedReply({"421"});
    EXPECT_EQ(reply.Code(), "421");
    EXPECT_THAT(reply.Text, ElementsAre(""));

    reply.SetFormattedReply({});
    EXPECT_FALSE(reply.HasReply());

    EXPECT_THROW(reply.SetFormattedReply({"abc def"}), EReplyCodeError);
}

TEST(ReplyRFC, EndMarkerAndReplyError) {
    TReplyRFC reply(nullptr);
    EXPECT_TRUE(reply.IsEndMarker("250 last"));
    EXPECT_TRUE(reply.IsEndMarker("250"));
    EXPECT_TRUE(reply.IsEndMarker(""));
    EXPECT_FALSE(reply.IsEndMarker("250-more"));

    reply.SetReply(550, "No such\nthing");
    try {
        reply.RaiseReplyError();
    } catch (const EReplyRFCError& e) {
        EXPECT_EQ(e.ErrorCode, 550);
        EXPECT_STREQ(e.what(), "No such\r\nthing");
    }
}

TEST(Replies, CodesAreUniqueInATable) {
    TRepliesRFC table;
    table.Add("200", "Fine");
    TReply& other = table.Add("300", "Wait");
    try {
        other.SetCode("200");
        FAIL() << "no error";
    } catch (const EReplyCodeError& e) {
        EXPECT_STREQ(e.what(), "Reply Code already exists: 200");
    }
    EXPECT_THROW(table.Add("200", "again"), EReplyCodeError);
    EXPECT_THROW(table.Add("42", "bad"), EReplyCodeError);
    EXPECT_EQ(table.Count(), 2);
    EXPECT_EQ(table.Find("300"), &other);
    EXPECT_EQ(table.Find("300", &other), nullptr);

    // Replies outside the table may share its codes.
    TReplyRFC loose(&table);
    EXPECT_NO_THROW(loose.SetCode("200"));
}

TEST(Replies, FillInTextByCodeThenClassThenDefault) {
    TRepliesRFC table;
    table.Add("251", "Exactly");
    table.Add("300", "Class text");

    auto filled = [&](int code) {
        TReplyRFC reply(&table);
        reply.SetNumericCode(code);
        reply.FillInText();
        return reply.FormattedReply();
    };
    EXPECT_THAT(filled(251), ElementsAre("251 Exactly"));
    EXPECT_THAT(filled(250), ElementsAre("250 Ok"));
    EXPECT_THAT(filled(350), ElementsAre("350 Class text"));
    EXPECT_THAT(filled(100), ElementsAre("100 Information"));
    EXPECT_THAT(filled(404), ElementsAre("404 Permanent Error"));
    EXPECT_THAT(filled(599), ElementsAre("599 Unknown Internal Error"));
    EXPECT_THAT(filled(600), ElementsAre("600"));

    // A reply that has text keeps it.
    TReplyRFC own(&table);
    own.SetReply(251, "Mine");
    own.FillInText();
    EXPECT_THAT(own.Text, ElementsAre("Mine"));

    // Without a tied table nothing is filled in.
    TReplyRFC untied(nullptr);
    untied.SetNumericCode(250);
    untied.FillInText();
    EXPECT_THAT(untied.Text, IsEmpty());
}

TEST(Replies, SplitTextLines) {
    EXPECT_THAT(SplitTextLines(""), IsEmpty());
    EXPECT_THAT(SplitTextLines("a"), ElementsAre("a"));
    EXPECT_THAT(SplitTextLines("a\r\nb\nc\rd\r\n"), ElementsAre("a", "b", "c", "d"));
    EXPECT_THAT(SplitTextLines("\n\n"), ElementsAre("", ""));
}

} // namespace
