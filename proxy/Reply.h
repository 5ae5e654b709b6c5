#pragma once

#include "proxy/NetExceptions.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orvalis::proxy {

using TStringList = std::vector<std::string>;

// Splits a text into lines at CR LF, LF or a lone CR; a final line break adds
// no empty line.
TStringList SplitTextLines(std::string_view text);

// An invalid or duplicate reply code.
class EReplyCodeError : public ENetException {
public:
    using ENetException::ENetException;
};

// A reply read by a client that reports failure: its numeric code and text.
class EReplyRFCError : public ENetException {
public:
    EReplyRFCError(int errorCode, const std::string& message)
        : ENetException(message), ErrorCode(errorCode) {}
    int ErrorCode;
};

class TReplies;
class TReply;

// Makes a new, empty reply of one reply class tied to a text table (may be null).
using TReplyClass = std::unique_ptr<TReply> (*)(TReplies* replyTexts);

// A coded reply: a code text and lines of text. A reply may live in a TReplies
// table (its collection), where codes are unique, and may be tied to a table
// whose texts fill in a reply sent without text. Replies have identity: they
// are copied with Assign, never by value.
class TReply {
public:
    explicit TReply(TReplies* replyTexts) : replyTexts_(replyTexts) {}
    TReply(const TReply&) = delete;
    TReply& operator=(const TReply&) = delete;
    virtual ~TReply() = default;

    const std::string& Code() const { return code_; }
    // Equal code: nothing happens. Otherwise the code is checked (validity,
    // uniqueness in the collection) and the reply emptied before taking it.
    void SetCode(const std::string& code);
    // The code read by the number rule; 0 when empty or not a number.
    int NumericCode() const;
    // A number below 1 sets the empty code.
    void SetNumericCode(int code);
    bool HasCode() const { return !code_.empty(); }

    TStringList Text;
    void SetText(std::string_view text) { Text = SplitTextLines(text); }

    void Clear();
    void SetReply(int code, std::string_view text);
    void SetReply(const std::string& code, std::string_view text);
    virtual void Assign(const TReply& source);

    // Copies texts from the tied table when this reply has none.
    void FillInText();

    TReplies* Collection() const { return collection_; }
    TReplies* ReplyTexts() const { return replyTexts_; }

    virtual bool CheckIfCodeIsValid(const std::string& code) const = 0;
    virtual TStringList FormattedReply() const = 0;
    virtual void SetFormattedReply(const TStringList& lines) = 0;
    virtual bool IsEndMarker(std::string_view line) const = 0;
    [[noreturn]] virtual void RaiseReplyError() const = 0;
    virtual bool HasReply() const = 0;
    virtual TReplyClass ReplyClass() const = 0;

private:
    friend class TReplies;

    std::string code_;
    TReplies* collection_ = nullptr;
    TReplies* replyTexts_ = nullptr;
};

// Numeric reply: "250-first line", ..., "250 last line".
class TReplyRFC : public TReply {
public:
    using TReply::TReply;
    static std::unique_ptr<TReply> Create(TReplies* replyTexts);

    // Empty after trimming, or a number from 100 to 999.
    bool CheckIfCodeIsValid(const std::string& code) const override;
    TStringList FormattedReply() const override;
    // Reads a reply from its lines: the code is the first line's first three
    // characters, trimmed; each line from its fifth character on is text.
    void SetFormattedReply(const TStringList& lines) override;
    // True for the last line of a reply: shorter than four characters or a
    // space as fourth character.
    bool IsEndMarker(std::string_view line) const override;
    [[noreturn]] void RaiseReplyError() const override;
    bool HasReply() const override;
    void Assign(const TReply& source) override;
    TReplyClass ReplyClass() const override { return &Create; }
};

// A table of replies by code, consulted for the text of replies sent without one.
class TReplies {
public:
    explicit TReplies(TReplyClass itemClass) : itemClass_(itemClass) {}
    TReplies(const TReplies&) = delete;
    TReplies& operator=(const TReplies&) = delete;
    virtual ~TReplies() = default;

    // A new reply of the item class, without code, in this table and tied to it.
    TReply& Add();
    TReply& Add(const std::string& code, std::string_view text);
    int Count() const { return static_cast<int>(items_.size()); }
    TReply& operator[](int index) const { return *items_.at(index); }

    // The first reply with exactly this code other than `ignore`, or null.
    TReply* Find(std::string_view code, const TReply* ignore = nullptr) const;
    // Gives a reply without text the text of the reply here with the same code.
    virtual void UpdateText(TReply& reply) const;

private:
    TReplyClass itemClass_;
    std::vector<std::unique_ptr<TReply>> items_;
};

// Also falls back on the reply's class (200 for 250) and then on a fixed text
// per class.
class TRepliesRFC : public TReplies {
public:
    TRepliesRFC() : TReplies(&TReplyRFC::Create) {}
    void UpdateText(TReply& reply) const override;
};

} // namespace orvalis::proxy
