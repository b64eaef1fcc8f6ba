#include "framework/dataset/filter_expr.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "framework/dataset/dataset.h"
#include "framework/format.h"

namespace apura {

namespace {

enum class Op { Eq, Ne, Lt, Gt, Le, Ge };

Op Mirror(Op op) {
  switch (op) {
    case Op::Lt:
      return Op::Gt;
    case Op::Gt:
      return Op::Lt;
    case Op::Le:
      return Op::Ge;
    case Op::Ge:
      return Op::Le;
    default:
      return op;
  }
}

template <typename T>
bool Compare(const T& a, const T& b, Op op) {
  switch (op) {
    case Op::Eq:
      return a == b;
    case Op::Ne:
      return !(a == b);
    case Op::Lt:
      return a < b;
    case Op::Gt:
      return b < a;
    case Op::Le:
      return !(b < a);
    case Op::Ge:
      return !(a < b);
  }
  return false;
}

struct Operand {
  enum Kind { Field, Text, Number } kind = Text;
  std::string text;  // field name or literal text
  double number = 0;
  int field = -1;  // bound field index
};

}  // namespace

struct FilterProgram::Node {
  enum Kind { And, Or, Not, Cmp, In, IsNull } kind = Cmp;
  std::vector<std::unique_ptr<Node>> kids;
  Op op = Op::Eq;
  bool negate = false;   // NOT IN, IS NOT NULL
  bool grouped = false;  // came in parentheses: the chain it is in stays a child
  Operand left, right;
  std::vector<Operand> list;  // IN

  // Bound state.
  enum Mode { TextCodes, Numbers, DateText, FieldField, Constant } mode = Constant;
  bool constant = false;
  bool caseInsensitive = false;
  double numberValue = 0;
  std::vector<double> numberList;
  std::vector<std::string> textList;       // folded when case-insensitive
  mutable std::vector<uint8_t> codeCache;  // 0 unknown, 1 rejects, 2 accepts
};

namespace {

class Parser {
 public:
  explicit Parser(std::string_view s) : s_(s) {}

  std::unique_ptr<FilterProgram::Node> ParseAll() {
    auto n = ParseOr();
    Skip();
    if (i_ < s_.size()) Fail("unexpected text");
    return n;
  }

 private:
  using Node = FilterProgram::Node;

  [[noreturn]] void Fail(const std::string& what) {
    throw EDatabaseError("Invalid filter expression \"" + std::string(s_) + "\": " + what +
                         " at position " + std::to_string(i_ + 1));
  }
  void Skip() {
    while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
  }
  bool Keyword(std::string_view kw) {
    Skip();
    if (s_.size() - i_ < kw.size()) return false;
    for (size_t k = 0; k < kw.size(); ++k)
      if (std::toupper(static_cast<unsigned char>(s_[i_ + k])) != kw[k]) return false;
    size_t end = i_ + kw.size();
    if (end < s_.size()) {
      unsigned char c = static_cast<unsigned char>(s_[end]);
      if (std::isalnum(c) || c == '_') return false;
    }
    i_ = end;
    return true;
  }
  bool Punct(char c) {
    Skip();
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }

  // A chain of ANDs (or ORs) is one node with many operands, so a long list of
  // terms does not deepen the tree; only parentheses and NOT do, and those are
  // bounded, so no expression can exhaust the stack of the recursive steps.
  std::unique_ptr<Node> Combine(Node::Kind kind, std::unique_ptr<Node> a, std::unique_ptr<Node> b) {
    if (a->kind == kind && !a->grouped) {
      a->kids.push_back(std::move(b));
      return a;
    }
    auto n = std::make_unique<Node>();
    n->kind = kind;
    n->kids.push_back(std::move(a));
    n->kids.push_back(std::move(b));
    return n;
  }
  std::unique_ptr<Node> ParseOr() {
    auto n = ParseAnd();
    while (Keyword("OR")) n = Combine(Node::Or, std::move(n), ParseAnd());
    return n;
  }
  std::unique_ptr<Node> ParseAnd() {
    auto n = ParseUnary();
    while (Keyword("AND")) n = Combine(Node::And, std::move(n), ParseUnary());
    return n;
  }
  struct Deeper {
    Parser& p;
    explicit Deeper(Parser& parser) : p(parser) {
      if (++p.depth_ > kMaxFilterDepth)
        p.Fail("nested more than " + std::to_string(kMaxFilterDepth) + " levels deep");
    }
    ~Deeper() { --p.depth_; }
  };
  std::unique_ptr<Node> ParseUnary() {
    if (Keyword("NOT")) {
      Deeper d(*this);
      auto n = std::make_unique<Node>();
      n->kind = Node::Not;
      n->kids.push_back(ParseUnary());
      return n;
    }
    Skip();
    if (i_ < s_.size() && s_[i_] == '(') {
      Deeper d(*this);
      ++i_;
      auto n = ParseOr();
      if (!Punct(')')) Fail("expected ')'");
      n->grouped = true;
      return n;
    }
    return ParseCompare();
  }
  Operand ParseOperand() {
    Skip();
    if (i_ >= s_.size()) Fail("expected a field or a value");
    Operand o;
    char c = s_[i_];
    if (c == '[') {
      size_t close = s_.find(']', i_ + 1);
      if (close == std::string_view::npos) Fail("unclosed '['");
      o.kind = Operand::Field;
      o.text = std::string(s_.substr(i_ + 1, close - i_ - 1));
      if (o.text.empty()) Fail("empty field name");
      i_ = close + 1;
      return o;
    }
    if (c == '\'') {
      ++i_;
      o.kind = Operand::Text;
      for (;;) {
        if (i_ >= s_.size()) Fail("unclosed quoted value");
        if (s_[i_] == '\'') {
          if (i_ + 1 < s_.size() && s_[i_ + 1] == '\'') {
            o.text += '\'';
            i_ += 2;
            continue;
          }
          ++i_;
          break;
        }
        o.text += s_[i_++];
      }
      return o;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+' || c == '.') {
      size_t start = i_;
      ++i_;
      while (i_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[i_])) || s_[i_] == '.' ||
                                s_[i_] == 'e' || s_[i_] == 'E'))
        ++i_;
      std::string num(s_.substr(start, i_ - start));
      char* end = nullptr;
      o.number = std::strtod(num.c_str(), &end);
      if (end != num.c_str() + num.size()) {
        i_ = start;
        Fail("malformed number");
      }
      o.kind = Operand::Number;
      return o;
    }
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      size_t start = i_;
      while (i_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[i_])) || s_[i_] == '_'))
        ++i_;
      o.kind = Operand::Field;
      o.text = std::string(s_.substr(start, i_ - start));
      return o;
    }
    Fail(std::string("unexpected character '") + c + "'");
  }
  std::unique_ptr<Node> ParseCompare() {
    auto n = std::make_unique<Node>();
    n->left = ParseOperand();
    Skip();
    size_t at = i_;
    if (Keyword("IS")) {
      n->kind = Node::IsNull;
      n->negate = Keyword("NOT");
      if (!Keyword("NULL")) Fail("expected NULL");
      return n;
    }
    bool notIn = false;
    if (Keyword("NOT")) {
      if (!Keyword("IN")) Fail("expected IN after NOT");
      notIn = true;
    }
    if (notIn || Keyword("IN")) {
      n->kind = Node::In;
      n->negate = notIn;
      if (!Punct('(')) Fail("expected '(' after IN");
      do {
        n->list.push_back(ParseOperand());
        if (n->list.back().kind == Operand::Field) Fail("a list after IN holds values only");
      } while (Punct(','));
      if (!Punct(')')) Fail("expected ')' to close the IN list");
      return n;
    }
    i_ = at;
    Skip();
    auto starts = [&](std::string_view t) { return s_.substr(i_, t.size()) == t; };
    if (starts("<>") || starts("!="))
      n->op = Op::Ne, i_ += 2;
    else if (starts("<="))
      n->op = Op::Le, i_ += 2;
    else if (starts(">="))
      n->op = Op::Ge, i_ += 2;
    else if (starts("="))
      n->op = Op::Eq, i_ += 1;
    else if (starts("<"))
      n->op = Op::Lt, i_ += 1;
    else if (starts(">"))
      n->op = Op::Gt, i_ += 1;
    else
      Fail("expected a comparison operator");
    n->kind = Node::Cmp;
    n->right = ParseOperand();
    return n;
  }

  std::string_view s_;
  size_t i_ = 0;
  int depth_ = 0;
};

bool IsText(FieldType t) {
  return t == FieldType::String;
}

}  // namespace

std::unique_ptr<FilterProgram> FilterProgram::Parse(std::string_view expression) {
  std::unique_ptr<FilterProgram> p(new FilterProgram());
  p->text_ = std::string(expression);
  Parser parser(p->text_);
  p->root_ = parser.ParseAll();
  return p;
}

FilterProgram::~FilterProgram() = default;

namespace {

struct Binder {
  const TClientDataSet& table;
  const std::string& text;
  bool ci;

  [[noreturn]] void Fail(const std::string& what) const {
    throw EDatabaseError("Invalid filter expression \"" + text + "\": " + what);
  }
  int FieldIndex(const Operand& o) const {
    TField* f = table.FindField(o.text);
    if (!f) Fail("field '" + o.text + "' not found");
    return f->Index();
  }
  double LiteralNumber(const Operand& o, const TField& f) const {
    if (o.kind == Operand::Number) return o.number;
    double v = 0;
    if (f.DataType() == FieldType::DateTime) {
      DateTime d;
      if (TextToDateTime(o.text, d)) return d.days;
    }
    if (!TextToFloat(o.text, v))
      Fail("'" + o.text + "' cannot be compared with field '" + f.FieldName() + "'");
    return v;
  }
  std::string LiteralText(const Operand& o) const {
    std::string s = o.kind == Operand::Number ? FloatToText(o.number) : o.text;
    return ci ? FoldCase(s) : s;
  }

  // The texts a term compares with: the IN list, or the right-hand value.
  void TextLiterals(FilterProgram::Node& n) const {
    n.textList.clear();
    if (n.kind == FilterProgram::Node::In)
      for (auto& o : n.list) n.textList.push_back(LiteralText(o));
    else
      n.textList.push_back(LiteralText(n.right));
  }

  void Bind(FilterProgram::Node& n) const {
    using Node = FilterProgram::Node;
    n.caseInsensitive = ci;
    n.codeCache.clear();
    for (auto& k : n.kids) Bind(*k);
    if (n.kind == Node::And || n.kind == Node::Or || n.kind == Node::Not) return;
    if (n.left.kind != Operand::Field && n.kind == Node::Cmp && n.right.kind == Operand::Field) {
      std::swap(n.left, n.right);
      n.op = Mirror(n.op);
    }
    if (n.left.kind != Operand::Field) {
      // Two literals: decide once.
      n.mode = Node::Constant;
      if (n.kind == Node::IsNull)
        n.constant = n.negate;
      else if (n.kind == Node::In) {
        bool found = false;
        for (auto& o : n.list) found |= LiteralText(o) == LiteralText(n.left);
        n.constant = found != n.negate;
      } else {
        n.constant = Compare(LiteralText(n.left), LiteralText(n.right), n.op);
      }
      return;
    }
    n.left.field = FieldIndex(n.left);
    const TField& f = *table.Fields()[n.left.field];
    if (n.kind == Node::IsNull) {
      n.mode = IsText(f.DataType()) ? Node::TextCodes : Node::Numbers;
      return;
    }
    if (n.kind == Node::Cmp && n.right.kind == Operand::Field) {
      n.right.field = FieldIndex(n.right);
      n.mode = Node::FieldField;
      return;
    }
    if (IsText(f.DataType())) {
      n.mode = Node::TextCodes;
      TextLiterals(n);
      return;
    }
    const bool dateAsText = f.DataType() == FieldType::DateTime;
    if (dateAsText && (n.kind == Node::In || n.op == Op::Eq || n.op == Op::Ne) &&
        (n.kind == Node::In || n.right.kind == Operand::Text)) {
      // A date compared with a quoted text compares as it is shown.
      n.mode = Node::DateText;
      TextLiterals(n);
      return;
    }
    n.mode = Node::Numbers;
    n.numberList.clear();
    if (n.kind == Node::In)
      for (auto& o : n.list) n.numberList.push_back(LiteralNumber(o, f));
    else
      n.numberValue = LiteralNumber(n.right, f);
  }
};

}  // namespace

namespace {
bool TextMatches(const FilterProgram::Node& n, std::string_view value);
}  // namespace

void FilterProgram::Bind(const TClientDataSet& table, bool caseInsensitive) {
  Binder{table, text_, caseInsensitive}.Bind(*root_);
  terms_.clear();
  std::vector<const Node*> stack{root_.get()};
  while (!stack.empty()) {
    const Node* n = stack.back();
    stack.pop_back();
    if (n->kind == Node::And) {
      for (auto k = n->kids.rbegin(); k != n->kids.rend(); ++k) stack.push_back(k->get());
      continue;
    }
    terms_.push_back(n);
    if (n->mode == Node::TextCodes && n->kind != Node::IsNull) {
      // Decide every text of the dictionary once; rows then only look up.
      const auto& col = table.columns_[n->left.field];
      n->codeCache.assign(col.DictSize() + 1, 0);
      n->codeCache[0] = TextMatches(*n, std::string_view()) ? 2 : 1;
      for (size_t k = 0; k < col.DictSize(); ++k)
        n->codeCache[k + 1] = TextMatches(*n, col.DictEntry(static_cast<int32_t>(k))) ? 2 : 1;
    }
  }
}

namespace {

bool TextMatches(const FilterProgram::Node& n, std::string_view value) {
  using Node = FilterProgram::Node;
  std::string folded;
  if (n.caseInsensitive) {
    folded = FoldCase(value);
    value = folded;
  }
  if (n.kind == Node::In) {
    bool found = false;
    for (auto& t : n.textList) found |= value == t;
    return found != n.negate;
  }
  return Compare(value, std::string_view(n.textList[0]), n.op);
}

}  // namespace

bool FilterProgram::Eval(const Node& n, const TClientDataSet& t, uint32_t row) const {
  {
    {
      switch (n.kind) {
        case Node::And:
          for (auto& k : n.kids)
            if (!Eval(*k, t, row)) return false;
          return true;
        case Node::Or:
          for (auto& k : n.kids)
            if (Eval(*k, t, row)) return true;
          return false;
        case Node::Not:
          return !Eval(*n.kids[0], t, row);
        default:
          break;
      }
      if (n.mode == Node::Constant) return n.constant;
      const int f = n.left.field;
      if (n.kind == Node::IsNull) return t.CellIsNull(f, row) != n.negate;
      switch (n.mode) {
        case Node::TextCodes: {
          // Null text compares as empty text.
          int32_t code = t.columns_[f]->codes[row];
          size_t slot = static_cast<size_t>(code + 1);
          if (slot >= n.codeCache.size()) n.codeCache.resize(t.columns_[f].DictSize() + 1, 0);
          uint8_t& c = n.codeCache[slot];
          if (c == 0)
            c = TextMatches(n, code < 0 ? std::string_view() : t.columns_[f].DictEntry(code)) ? 2
                                                                                              : 1;
          return c == 2;
        }
        case Node::DateText: {
          if (t.CellIsNull(f, row)) return TextMatches(n, std::string_view());
          return TextMatches(n, t.fields_[f]->DisplayText());
        }
        case Node::Numbers: {
          if (t.CellIsNull(f, row)) return n.kind == Node::In ? n.negate : n.op == Op::Ne;
          double v = t.columns_[f]->numbers[row];
          if (n.kind == Node::In) {
            bool found = false;
            for (double d : n.numberList) found |= v == d;
            return found != n.negate;
          }
          return Compare(v, n.numberValue, n.op);
        }
        case Node::FieldField: {
          const int g = n.right.field;
          const bool textL = t.fields_[f]->DataType() == FieldType::String;
          const bool textR = t.fields_[g]->DataType() == FieldType::String;
          if (textL || textR) {
            auto CellAsText = [](const TClientDataSet& table, int field, uint32_t r) {
              const int64_t was = table.overrideRow_;
              table.overrideRow_ = r;
              std::string text = table.fields_[field]->AsString();
              table.overrideRow_ = was;
              return text;
            };
            // A number or date field has no texts to read: it compares as shown.
            const std::string a = textL ? std::string(t.CellText(f, row)) : CellAsText(t, f, row);
            const std::string b = textR ? std::string(t.CellText(g, row)) : CellAsText(t, g, row);
            if (n.caseInsensitive) return Compare(FoldCase(a), FoldCase(b), n.op);
            return Compare(a, b, n.op);
          }
          if (t.CellIsNull(f, row) || t.CellIsNull(g, row)) return n.op == Op::Ne;
          return Compare(t.CellNumber(f, row), t.CellNumber(g, row), n.op);
        }
        default:
          return false;
      }
    }
  }
}

bool FilterProgram::Accepts(const TClientDataSet& table, uint32_t row) const {
  return Eval(*root_, table, row);
}

void FilterProgram::Filter(const TClientDataSet& table, std::vector<uint32_t>& rows) const {
  for (const Node* n : terms_) {
    size_t kept = 0;
    if (n->mode == Node::TextCodes && n->kind != Node::IsNull) {
      const auto& codes = table.columns_[n->left.field]->codes;
      const auto& cache = n->codeCache;
      for (uint32_t r : rows) {
        size_t slot = static_cast<size_t>(codes[r] + 1);
        bool ok = slot < cache.size() ? cache[slot] == 2 : Eval(*n, table, r);
        if (ok) rows[kept++] = r;
      }
    } else {
      for (uint32_t r : rows) {
        table.overrideRow_ = r;
        if (Eval(*n, table, r)) rows[kept++] = r;
      }
      table.overrideRow_ = -1;
    }
    rows.resize(kept);
    if (rows.empty()) return;
  }
}

}  // namespace apura
