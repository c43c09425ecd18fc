// Formula rendering over a stack of operand texts, and the fixed textual rewrites to LaTeX and Python.
#include "kiv/discover/render.hpp"

#include <initializer_list>
#include <vector>

#include "kiv/text.hpp"

namespace kiv::discover {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kE = 2.718281828459045;

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

// "sqrt(" becomes "\sqrt{" and the parenthesis that closes its argument becomes "}". Matching is counted on
// the text as it stands before this rewrite; an argument left unclosed keeps only the opening rewrite.
std::string rewrite_sqrt(std::string_view text) {
    constexpr std::string_view kOpen = "sqrt(";
    std::vector<bool> closes(text.size(), false);
    std::vector<std::size_t> opens;
    for (std::size_t pos = text.find(kOpen); pos != std::string_view::npos; pos = text.find(kOpen, pos + kOpen.size())) {
        opens.push_back(pos);
        int depth = 1;
        for (std::size_t i = pos + kOpen.size(); i < text.size(); ++i) {
            if (text[i] == '(') {
                ++depth;
            } else if (text[i] == ')' && --depth == 0) {
                closes[i] = true;
                break;
            }
        }
    }
    std::string out;
    out.reserve(text.size() + 2 * opens.size());
    std::size_t next_open = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (next_open < opens.size() && opens[next_open] == i) {
            out.append("\\sqrt{");
            i += kOpen.size();
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
    unsigned code = static_cast<unsigned>((120 + index % 256) % 256);
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
                if (t.value == kPi) {
                    stack.emplace_back("π");
                } else if (t.value == kE) {
                    stack.emplace_back("e");
                } else {
                    stack.push_back(format_fixed(t.value, 4));
                }
                break;
            case TokenKind::Param:
                stack.push_back(concat({"c", std::to_string(t.index), "(", format_fixed(t.value, 4), ")"}));
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
                switch (t.op) {
                    case OpKind::Neg: stack.push_back(concat({"(-", a, ")"})); break;
                    case OpKind::Recip: stack.push_back(concat({"(1/", a, ")"})); break;
                    case OpKind::Exp: stack.push_back(concat({"exp(", a, ")"})); break;
                    case OpKind::Ln: stack.push_back(concat({"ln(", a, ")"})); break;
                    case OpKind::Sqrt: stack.push_back(concat({"sqrt(", a, ")"})); break;
                    case OpKind::Sin: stack.push_back(concat({"sin(", a, ")"})); break;
                    case OpKind::Cos: stack.push_back(concat({"cos(", a, ")"})); break;
                    case OpKind::Abs: stack.push_back(concat({"abs(", a, ")"})); break;
                    case OpKind::Kiv: stack.push_back(concat({"kiv(", a, ", ", b, ")"})); break;
                    case OpKind::Add: stack.push_back(concat({"(", a, " + ", b, ")"})); break;
                    case OpKind::Sub: stack.push_back(concat({"(", a, " - ", b, ")"})); break;
                    case OpKind::Mul: stack.push_back(concat({"(", a, " * ", b, ")"})); break;
                    case OpKind::Div: stack.push_back(concat({"(", a, " / ", b, ")"})); break;
                    default: stack.emplace_back(); break;
                }
                break;
            }
        }
    }
    if (stack.empty()) return "?";
    return std::move(stack.back());
}

std::string to_latex_text(std::string_view formula) {
    std::string s = replace_all(formula, "exp(", "\\exp(");
    s = replace_all(s, "ln(", "\\ln(");
    s = rewrite_sqrt(s);
    s = replace_all(s, "sin(", "\\sin(");
    s = replace_all(s, "cos(", "\\cos(");
    s = replace_all(s, "kiv(", "\\mathrm{kiv}(");
    s = replace_all(s, "π", "\\pi");
    return s;
}

std::string to_python_text(std::string_view formula) {
    std::string s = replace_all(formula, "exp(", "math.exp(");
    s = replace_all(s, "ln(", "math.log(");
    s = replace_all(s, "sqrt(", "math.sqrt(");
    s = replace_all(s, "sin(", "math.sin(");
    s = replace_all(s, "cos(", "math.cos(");
    return "import math\nf = lambda x: " + s;
}

}  // namespace kiv::discover
