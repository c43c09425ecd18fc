// Formula rendering over a stack of operand texts, and the fixed textual rewrites to LaTeX and Python.
#include "kiv/discover/render.hpp"

#include <initializer_list>
#include <vector>

#include "kiv/text.hpp"

namespace kiv::discover {
namespace {

// Replaces every non-overlapping occurrence of from, scanning left to right; replaced text is not rescanned.
std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    for (;;) {
        std::size_t hit = text.find(from, pos);
        if (hit == std::string_view::npos) break;
        out.append(text.substr(pos, hit - pos));
        out.append(to);
        pos = hit + from.size();
    }
    out.append(text.substr(pos));
    return out;
}

// open (ending in "(") becomes to (ending in "{") and the parenthesis that closes its argument becomes "}".
// Matching is counted on the text as it stands before this rewrite; an argument left unclosed keeps only the
// opening rewrite.
std::string rewrite_braced(std::string_view text, std::string_view open, std::string_view to) {
    std::vector<bool> closes(text.size(), false);
    std::vector<std::size_t> opens;
    for (std::size_t pos = text.find(open); pos != std::string_view::npos; pos = text.find(open, pos + open.size())) {
        opens.push_back(pos);
        int depth = 1;
        for (std::size_t i = pos + open.size(); i < text.size(); ++i) {
            if (text[i] == '(') {
                ++depth;
            } else if (text[i] == ')' && --depth == 0) {
                closes[i] = true;
                break;
            }
        }
    }
    std::string out;
    out.reserve(text.size() + to.size() * opens.size());
    std::size_t next_open = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (next_open < opens.size() && opens[next_open] == i) {
            out.append(to);
            i += open.size();
            ++next_open;
        } else {
            out.push_back(closes[i] ? '}' : text[i]);
            ++i;
        }
    }
    return out;
}

// The parts joined into one string, sized once.
std::string concat(std::initializer_list<std::string_view> parts) {
    std::size_t n = 0;
    for (std::string_view p : parts) n += p.size();
    std::string out;
    out.reserve(n);
    for (std::string_view p : parts) out.append(p);
    return out;
}

void append_var(std::string& s, std::size_t index) {
    unsigned code = static_cast<unsigned>((kVarLetterBase + index % 256) % 256);
    if (code < 128) {
        s.push_back(static_cast<char>(code));
    } else {
        s.push_back(static_cast<char>(0xC0 | (code >> 6)));
        s.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

}  // namespace

std::string render_formula(const Expr& expr) {
    std::vector<std::string> stack;
    stack.reserve(expr.size());
    auto pop = [&stack]() {
        if (stack.empty()) return std::string();
        std::string s = std::move(stack.back());
        stack.pop_back();
        return s;
    };
    for (const Token& t : expr) {
        switch (t.kind) {
            case TokenKind::Const:
                if (t.value == kTextPi) {
                    stack.emplace_back("π");
                } else if (t.value == kTextE) {
                    stack.emplace_back("e");
                } else {
                    stack.push_back(format_fixed(t.value, kTextDecimals));
                }
                break;
            case TokenKind::Param:
                stack.push_back(
                    concat({"c", std::to_string(t.index), "(", format_fixed(t.value, kTextDecimals), ")"}));
                break;
            case TokenKind::Var: {
                std::string s;
                append_var(s, t.index);
                stack.push_back(std::move(s));
                break;
            }
            case TokenKind::Op: {
                std::string b;
                if (arity(t.op) == 2) b = pop();
                const std::string a = pop();
                if (!is_op(t.op)) {
                    stack.emplace_back();
                } else if (const OpInfo& o = op_info(t.op); o.arity == 1) {
                    stack.push_back(concat({o.prefix, a, o.suffix}));
                } else {
                    stack.push_back(concat({o.prefix, a, o.infix, b, o.suffix}));
                }
                break;
            }
        }
    }
    if (stack.empty()) return "?";
    return std::move(stack.back());
}

// Operators' rewrites are applied in table order, each over the whole text.
std::string to_latex_text(std::string_view formula) {
    std::string s(formula);
    for (const OpInfo& o : kOps) {
        if (o.latex.empty()) continue;
        s = o.latex.ends_with('{') ? rewrite_braced(s, o.prefix, o.latex) : replace_all(s, o.prefix, o.latex);
    }
    return replace_all(s, "π", "\\pi");
}

std::string to_python_text(std::string_view formula) {
    std::string s(formula);
    for (const OpInfo& o : kOps) {
        if (!o.python.empty()) s = replace_all(s, o.prefix, o.python);
    }
    return "import math\nf = lambda x: " + s;
}

}  // namespace kiv::discover
