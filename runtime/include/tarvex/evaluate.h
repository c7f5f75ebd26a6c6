/* SPDX-License-Identifier: GPL-3.0-or-later */
/* BIND and EVALUATE: expressions given as text at run time.
 *
 * A program binds its variables and procedures by name (Vrn$BindV, Vrn$BindG, Vrn$BindP) in
 * binding scopes (Vrn$PushBind2 ... Vrn$PopBind), then parses a text once (Vrn$ParseCString) and
 * evaluates it as often as it likes (Vrn$EvalR, Vrn$EvalS): a view's filter is such a text,
 * evaluated once per candidate row. Vrn$Evaluate does all of it for one text on the string stack.
 *
 * Ownership and lifetime:
 *   - Vrn$BindV and Vrn$BindG take over the Ufo they are given (the binding frees it when its scope
 *     closes or the name is unbound; Vrn$BindG frees the group's Ufo at once and binds new Ufos on
 *     the same storage). Binding a name again in the same scope replaces the earlier binding.
 *   - A parsed tree keeps its own references to the storage of the variables it names, so it stays
 *     valid after the scope closes; the program must still keep that storage alive while it uses
 *     the tree. Vrn$FreeParsed releases it.
 *   - Binding scopes belong to the calling thread: procedures on different threads cannot close or
 *     see each other's scopes.
 *
 * Procedures bound with Vrn$BindP are called with their arguments on the string stack (the first
 * argument pushed first, so the last one is on top) and must pop exactly `parameter_count` entries:
 *   result type VRN_TYPE_LONG:  int32_t procedure(void)   (value class integer)
 *   result type VRN_TYPE_REAL:  double procedure(void)    (value class real)
 *   any other result type:      void procedure(void) that pushes its result on the string stack.
 *
 * SQL rendering (for drivers that take filters as SQL): Vrn$PrintSQL writes a filter as a standard
 * SQL condition, Vrn$PrintSQLOrder one ORDER item ("-INV:DATE" gives "DATE DESC"). Bound variables
 * that the context's `column` callback maps to a column are written as that column; the others are
 * written as literals holding their current value. Each returns VRN_SQL_EXACT when the text selects
 * exactly the rows the filter selects, VRN_SQL_SUPERSET when some AND terms could not be written
 * and were left out (the driver must still evaluate the filter on the rows it gets), and
 * VRN_SQL_NONE when nothing could be written (the text is left unchanged). */
#ifndef TARVEX_EVALUATE_H
#define TARVEX_EVALUATE_H

#include "tarvex/export.h"
#include "tarvex/values.h"

/* A parsed expression (opaque). */
typedef struct VrnParsed VrnParsed;

typedef int32_t (*VrnLongProcedure)(void);
typedef double (*VrnRealProcedure)(void);
typedef void (*VrnStringProcedure)(void);

#define VRN_SQL_EXACT 0
#define VRN_SQL_SUPERSET 1
#define VRN_SQL_NONE (-1)
#define VRN_SQL_NO_TREE 2

/* The output context of the SQL rendering. `text` is a std::malloc block (zero-terminated) that the
 * rendering appends to; release it with Vrn$FreeSQL. */
typedef struct VrnSqlOutput {
    /* The SQL column of a bound name, spelled as it was bound ("INV:PAT" also where the filter
     * writes inv:pat), or null when the name is a program variable, not a column. A null callback
     * maps nothing. */
    const char* (*column)(void* user, const char* name);
    void* user;
    char* text;
    uint32_t length;
} VrnSqlOutput;

TARVEX_BEGIN_C

/* Binding scopes. Vrn$PushBind2(0) hides every outer scope from lookup; any other flag keeps them
 * visible. Vrn$PopBind without an open scope is the fatal error 802. */
TARVEX_API void Vrn$PushBind2(int32_t keep_outer);
TARVEX_API void Vrn$PushBind(void);
TARVEX_API void Vrn$PopBind(void);

/* Bindings in the current scope; names come from the string stack (cut to 99 characters and at the
 * first character that cannot be part of a name). Vrn$UnbindV of an unknown name sets 801. */
TARVEX_API void Vrn$BindV(Ufo* variable);
TARVEX_API void Vrn$BindG(Ufo* group);
TARVEX_API void Vrn$BindP(void* procedure, int32_t parameter_count, int32_t result_type);
TARVEX_API void Vrn$UnbindV(void);   /* clears the error state when the name was bound */

/* EVALUATE: pops the expression and pushes its value as text; 800 (or 801 for an unbound name) and
 * an empty text when it does not parse. */
TARVEX_API void Vrn$Evaluate(void);

/* Parsing: clears the error state; null when the text is not one complete expression (801 set for
 * an unbound name).
 * ParseCStringR parses the expression at the start of *text and leaves *text at what follows it. */
TARVEX_API VrnParsed* Vrn$ParseCString(const char* text);
TARVEX_API VrnParsed* Vrn$ParseCStringR(const char** text);
TARVEX_API void Vrn$FreeParsed(VrnParsed* tree);

/* Evaluation: EvaluateParsed and EvalS push the value as text (an empty text for a null tree); EvalR
 * returns 1 when the value is true (non-zero, or a string that is not blank). */
TARVEX_API void Vrn$EvaluateParsed(VrnParsed* tree);
TARVEX_API void Vrn$EvalS(VrnParsed* tree);
TARVEX_API int32_t Vrn$EvalR(VrnParsed* tree);

/* A new Ufo on the variable bound under `name` in the current scope only, or null. */
TARVEX_API Ufo* Vrn$EvaluateVariable(const char* name);

/* SQL rendering (see above). AnnotateParsed classifies without writing (VRN_SQL_NO_TREE for a null
 * tree); `output` may be null there. */
TARVEX_API int32_t Vrn$AnnotateParsed(VrnParsed** tree, VrnSqlOutput* output);
TARVEX_API int32_t Vrn$PrintSQL(VrnParsed* tree, VrnSqlOutput* output);
TARVEX_API int32_t Vrn$PrintSQLOrder(VrnParsed* tree, VrnSqlOutput* output);
TARVEX_API void Vrn$FreeSQL(VrnSqlOutput* output);

TARVEX_END_C

#endif
