#include "proxy/Reply.h"

#include "proxy/NumberRule.h"

#include <algorithm>

namespace orvalis::proxy {

TStringList SplitTextLines(std::string_view text) {
    TStringList lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') {
            continue;
        }
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
        }
        start = i + 1;
    }
    if (start < text.size()) {
        lines.emplace_back(text.substr(start));
    }
    return lines;
}

void TReply::SetCode(const std::string& code) {
    if (code == code_) {
        return;
    }
    if (!CheckIfCodeIsValid(code)) {
        throw EReplyCodeError("Reply Code is not valid: " + code);
    }
    if (collection_ != nullptr && !code.empty() && collection_->Find(code, this) != nullptr) {
        throw EReplyCodeError("Reply Code already exists: " + code);
    }
    Clear();
    code_ = code;
}

int TReply::NumericCode() const {
    return NumberOr(code_, 0);
}

void TReply::SetNumericCode(int code) {
    SetCode(code < 1 ? std::string() : std::to_string(code));
}

void TReply::Clear() {
    Text.clear();
    code_.clear();
}

void TReply::SetReply(int code, std::string_view text) {
    SetNumericCode(code);
    SetText(text);
}

void TReply::SetReply(const std::string& code, std::string_view text) {
    SetCode(code);
    SetText(text);
}

void TReply::Assign(const TReply& source) {
    if (&source == this) {
        return;
    }
    SetCode(source.Code());
    Text = source.Text;
}

void TReply::FillInText() {
    if (replyTexts_ != nullptr) {
        replyTexts_->UpdateText(*this);
    }
}

std::unique_ptr<TReply> TReplyRFC::Create(TReplies* replyTexts) {
    return std::make_unique<TReplyRFC>(replyTexts);
}

bool TReplyRFC::CheckIfCodeIsValid(const std::string& code) const {
    if (Trimmed(code).empty()) {
        return true;
    }
    auto number = ParseNumber(code);
    return number && *number >= 100 && *number <= 999;
}

TStringList TReplyRFC::FormattedReply() const {
    const int code = NumericCode();
    if (code < 1) {
        return Text;
    }
    const std::string number = std::to_string(code);
    if (Text.empty()) {
        return {number};
    }
    TStringList lines;
    lines.reserve(Text.size());
    for (size_t i = 0; i + 1 < Text.size(); ++i) {
        lines.push_back(number + "-" + Text[i]);
    }
    lines.push_back(number + " " + Text.back());
    return lines;
}

void TReplyRFC::SetFormattedReply(const TStringList& lines) {
    Clear();
    if (lines.empty()) {
        return;
    }
    SetCode(std::string(Trimmed(std::string_view(lines.front()).substr(0, 3))));
    for (const auto& line : lines) {
        Text.push_back(line.size() > 4 ? line.substr(4) : std::string());
    }
}

bool TReplyRFC::IsEndMarker(std::string_view line) const {
    return line.size() < 4 || line[3] == ' ';
}

void TReplyRFC::RaiseReplyError() const {
    std::string message;
    for (size_t i = 0; i < Text.size(); ++i) {
        message += (i == 0 ? "" : "\r\n") + Text[i];
    }
    throw EReplyRFCError(NumericCode(), message);
}

bool TReplyRFC::HasReply() const {
    return NumericCode() >= 1 || !Text.empty();
}

void TReplyRFC::Assign(const TReply& source) {
    if (&source == this) {
        return;
    }
    if (dynamic_cast<const TReplyRFC*>(&source) == nullptr) {
        TReply::Assign(source);
        return;
    }
    SetNumericCode(source.NumericCode());
    Text = source.Text;
}

TReply& TReplies::Add() {
    auto reply = itemClass_(this);
    reply->collection_ = this;
    items_.push_back(std::move(reply));
    return *items_.back();
}

TReply& TReplies::Add(const std::string& code, std::string_view text) {
    TReply& reply = Add();
    try {
        reply.SetReply(code, text);
    } catch (...) {
        items_.pop_back();
        throw;
    }
    return reply;
}

TReply* TReplies::Find(std::string_view code, const TReply* ignore) const {
    auto it = std::find_if(items_.begin(), items_.end(), [&](const auto& item) {
        return item.get() != ignore && item->Code() == code;
    });
    return it == items_.end() ? nullptr : it->get();
}

void TReplies::UpdateText(TReply& reply) const {
    if (!reply.Text.empty() || !reply.HasCode()) {
        return;
    }
    if (const TReply* same = Find(reply.Code(), &reply)) {
        reply.Text = same->Text;
    }
}

namespace {

const char* ClassDefaultText(int replyClass) {
    switch (replyClass) {
    case 100:
        return "Information";
    case 200:
        return "Ok";
    case 300:
        return "Temporary Error";
    case 400:
        return "Permanent Error";
    case 500:
        return "Unknown Internal Error";
    default:
        return nullptr;
    }
}

} // namespace

void TRepliesRFC::UpdateText(TReply& reply) const {
    TReplies::UpdateText(reply);
    if (!reply.Text.empty()) {
        return;
    }
    const int replyClass = reply.NumericCode() / 100 * 100;
    if (const TReply* sameClass = Find(std::to_string(replyClass), &reply)) {
        reply.Text = sameClass->Text;
    }
    if (reply.Text.empty()) {
        if (const char* text = ClassDefaultText(replyClass)) {
            reply.Text = {text};
        }
    }
}

} // namespace orvalis::proxy
