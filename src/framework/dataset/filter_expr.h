#pragma once
// Filter expressions: parsed once when set, bound to a table's fields when the
// table filters, then evaluated per row mostly by comparing dictionary codes.
//
//   expr    := or
//   or      := and { OR and }
//   and     := unary { AND unary }
//   unary   := NOT unary | '(' expr ')' | compare
//   compare := operand ( op operand | [NOT] IN '(' operand {',' operand} ')'
//                       | IS [NOT] NULL )
//   operand := '[' field ']' | field | 'text' (a doubled quote is one quote) | number
//   op      := = | <> | != | < | > | <= | >=
// Keywords are case-insensitive. Parentheses and NOT nest at most
// kMaxFilterDepth levels; a chain of AND or OR terms may be as long as wanted.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/errors.h"

namespace apura {

class TClientDataSet;

inline constexpr int kMaxFilterDepth = 64;

class FilterProgram {
 public:
  // Throws EDatabaseError quoting the expression and the position where it
  // broke.
  static std::unique_ptr<FilterProgram> Parse(std::string_view expression);
  ~FilterProgram();

  // Resolves field names against the table; an unknown field is an error naming
  // it. Must be called before Accepts, and again after the table's fields or
  // dictionaries were replaced.
  void Bind(const TClientDataSet& table, bool caseInsensitive);
  bool Accepts(const TClientDataSet& table, uint32_t row) const;
  // Keeps, in order, the rows the expression accepts. Works a term at a time
  // over the whole list, so each term is one tight loop over its column.
  void Filter(const TClientDataSet& table, std::vector<uint32_t>& rows) const;

  struct Node;

 private:
  FilterProgram() = default;
  bool Eval(const Node& n, const TClientDataSet& t, uint32_t row) const;
  std::string text_;
  std::unique_ptr<Node> root_;
  std::vector<const Node*> terms_;  // the top-level conjunction
};

}  // namespace apura
