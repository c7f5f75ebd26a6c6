// SPDX-License-Identifier: GPL-3.0-or-later
// SQL rendering of parsed filters and order items, for drivers that take a view's filter as SQL.
// A filter that translates as a whole is written exactly; otherwise the terms of its top-level AND
// chain that translate are written (a superset of the rows, which the driver filters again), and
// when none does, nothing is written.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/evaluator.h"

namespace tarvex::eval {
namespace {

void AppendOutput(VrnSqlOutput* output, const std::string& text) {
    size_t length = output->text ? output->length : 0;
    char* grown = static_cast<char*>(std::realloc(output->text, length + text.size() + 1));
    if (!grown) return;
    std::memcpy(grown + length, text.data(), text.size());
    grown[length + text.size()] = '\0';
    output->text = grown;
    output->length = static_cast<uint32_t>(length + text.size());
}

}  // namespace

int32_t RenderSqlFilter(Node* tree, VrnSqlOutput* output, bool write) {
    if (!tree) return VRN_SQL_NO_TREE;
    if (tree->Sql(nullptr, true)) {
        if (write && output) {
            SqlWriter writer(output);
            tree->Sql(&writer, true);
            AppendOutput(output, writer.Text());
        }
        return VRN_SQL_EXACT;
    }
    std::vector<const Node*> terms;
    tree->Conjuncts(terms);
    SqlWriter writer(output);
    size_t written = 0;
    for (const Node* term : terms) {
        if (!term->Sql(nullptr, true)) continue;
        if (written++) writer.Append(" AND ");
        term->Sql(&writer, true);
    }
    if (written == 0) return VRN_SQL_NONE;
    if (write && output) AppendOutput(output, written > 1 ? "(" + writer.Text() + ")" : writer.Text());
    return VRN_SQL_SUPERSET;
}

int32_t RenderSqlOrder(Node* tree, VrnSqlOutput* output) {
    if (!tree || !output) return VRN_SQL_NONE;
    bool descending;
    const Node* term = tree->OrderTerm(descending);
    if (!term->Sql(nullptr, false)) return VRN_SQL_NONE;
    SqlWriter writer(output);
    if (output->text && output->length) writer.Append(", ");
    term->Sql(&writer, false);
    writer.Append(descending ? " DESC" : " ASC");
    AppendOutput(output, writer.Text());
    return VRN_SQL_EXACT;
}

}  // namespace tarvex::eval
