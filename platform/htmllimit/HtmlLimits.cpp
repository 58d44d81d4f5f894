#include "platform/htmllimit/HtmlLimits.h"

#include "platform/htmllimit/TagScanner.h"
#include "platform/htmllimit/TreeModel.h"

#include <algorithm>
#include <cstring>

namespace html {

namespace {

using namespace limiting;

// One limiting pass over `in`: the scanner finds the tags, the tree model
// decides which to keep, and the pass copies the input to `out` with the
// dropped pieces cut out (only once something is dropped).
class Pass {
public:
    Pass(std::string_view in, const Limits& limits, LimitReport& report, std::string& out)
        : in_(in), report_(report), out_(out), scanner_(in), model_(in, limits, report)
    {
    }

    bool Run();

private:
    void Drop(std::size_t from, std::size_t to)
    {
        if (!changed_) {
            changed_ = true;
            out_.clear();
            out_.reserve(in_.size());
        }
        out_.append(in_.data() + copied_, from - copied_);
        copied_ = to;
    }
    bool ReadTag(std::size_t lt, bool endTag) { return scanner_.ReadTag(lt, endTag, token_); }
    void NoteText(std::size_t from, std::size_t to);
    void FlushText();

    std::string_view in_;
    LimitReport& report_;
    std::string& out_;
    std::size_t copied_ = 0;
    bool changed_ = false;

    TagScanner scanner_;
    TreeModel model_;
    std::size_t pos_ = 0;
    bool text_ = false;          // text seen since the last tag
    bool textNonSpace_ = false;  // ... and not only white space
    Token token_;
};

void Pass::NoteText(std::size_t from, std::size_t to)
{
    if (from >= to)
        return;
    text_ = true;
    if (!textNonSpace_)
        for (std::size_t i = from; i < to; ++i)
            if (!IsSpace(in_[i])) {
                textNonSpace_ = true;
                break;
            }
}


void Pass::FlushText()
{
    if (!text_)
        return;
    model_.OnText(textNonSpace_);
    text_ = false;
    textNonSpace_ = false;
}

bool Pass::Run()
{
    const std::size_t n = in_.size();
    while (pos_ < n) {
        const void* found = std::memchr(in_.data() + pos_, '<', n - pos_);
        if (!found) {
            NoteText(pos_, n);
            pos_ = n;
            break;
        }
        const std::size_t lt = static_cast<std::size_t>(static_cast<const char*>(found) - in_.data());
        NoteText(pos_, lt);
        pos_ = lt;
        const char c1 = lt + 1 < n ? in_[lt + 1] : '\0';
        if (c1 == '!') {
            if (in_.compare(lt, 4, "<!--") == 0) {
                pos_ = scanner_.CommentEnd(lt);
            } else if (const Open* current = model_.Current();
                       in_.compare(lt, 9, "<![CDATA[") == 0 && current && current->ns != kHtml) {
                // A CDATA section: its content is text.
                const std::size_t e = in_.find("]]>", lt + 9);
                pos_ = e == std::string_view::npos ? n : e + 3;
                if (current->integration) {
                    // Right inside an svg or math element that holds HTML
                    // (foreignObject, desc, mi, ...) the parser aborts on a
                    // CDATA section when a table is open; real pages never
                    // put one there, so it goes.
                    ++report_.droppedSections;
                    Drop(lt, pos_);
                } else {
                    NoteText(lt + 9, e == std::string_view::npos ? n : e);
                }
            } else {
                pos_ = scanner_.SkipTo(lt + 2, '>');  // doctype or bogus comment
            }
            continue;
        }
        if (c1 == '?') {
            pos_ = scanner_.SkipTo(lt + 2, '>');
            continue;
        }
        if (c1 == '/') {
            const char c2 = lt + 2 < n ? in_[lt + 2] : '\0';
            if (IsAlpha(c2)) {
                if (!ReadTag(lt, true)) {
                    pos_ = n;
                    break;
                }
                FlushText();
                pos_ = token_.end;
                if (!model_.OnEndTag(token_)) {
                    ++report_.droppedEndTags;
                    Drop(token_.begin, token_.end);
                }
            } else if (c2 == '>') {
                pos_ = lt + 3;
            } else if (lt + 2 >= n) {
                NoteText(lt, n);
                pos_ = n;
            } else {
                pos_ = scanner_.SkipTo(lt + 2, '>');
            }
            continue;
        }
        if (!IsAlpha(c1)) {
            NoteText(lt, lt + 1);
            pos_ = lt + 1;
            continue;
        }
        if (!ReadTag(lt, false)) {
            pos_ = n;
            break;
        }
        FlushText();
        pos_ = token_.end;
        const bool foreign = model_.InForeign();
        const std::size_t allowed = model_.AllowedAttributes(token_);
        token_.keptAttrs = std::min(allowed, token_.attrs.size());
        const bool keep = model_.OnStartTag(token_);
        if (!keep) {
            Drop(token_.begin, token_.end);
            continue;
        }
        if (token_.keptAttrs < token_.attrs.size()) {
            report_.droppedAttributes += token_.attrs.size() - token_.keptAttrs;
            // From the end of the last attribute kept, so the white space
            // before the dropped ones goes too.
            const std::size_t from =
                token_.keptAttrs ? token_.attrs[token_.keptAttrs - 1].end : token_.attrs.front().begin;
            Drop(from, token_.attrs.back().end);
        }
        report_.deepest = std::max(report_.deepest, static_cast<int>(model_.Depth()));
        // Raw-text and RCDATA content (HTML elements only) is text up to the end tag.
        if (!foreign && (token_.flags & kRawText)) {
            const std::size_t e = scanner_.RawTextEnd(pos_, token_.name);
            pos_ = e;  // no formatting is re-opened inside
            if (e < n) {
                if (!ReadTag(e, true)) {
                    pos_ = n;
                    break;
                }
                pos_ = token_.end;
            }
        } else if (!foreign && token_.tag == Tag::Plaintext) {
            pos_ = n;  // everything after <plaintext> is text
        }
    }
    FlushText();
    if (changed_)
        out_.append(in_.data() + copied_, n - copied_);
    report_.deepest = std::max(report_.deepest, static_cast<int>(model_.Depth()));
    return changed_;
}

}  // namespace

bool LimitMarkup(std::string_view utf8, std::string& out, LimitReport* report, const Limits& limits)
{
    LimitReport local;
    LimitReport& r = report ? *report : local;
    r = LimitReport{};
    std::string result;
    Pass pass(utf8, limits, r, result);
    if (!pass.Run())
        return false;
    out = std::move(result);
    return true;
}

std::string LimitedMarkup(std::string_view utf8, LimitReport* report, const Limits& limits)
{
    std::string out;
    if (!LimitMarkup(utf8, out, report, limits))
        out.assign(utf8.data(), utf8.size());
    return out;
}

}  // namespace html
