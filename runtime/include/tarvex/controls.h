/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Controls and properties of open windows.
 *
 * The program addresses a control by its field number in a window. Properties are numbered (from
 * 0x7000 up) or named; a property statement names a target (0 the thread's current target window,
 * VRN_TARGET_PRINTER, VRN_TARGET_SYSTEM, or a window), a field number (0: the target itself) and
 * an index (0: none; below 0x7D00 index n reads property number + n - 1, from 0x7D00 up the index
 * is passed on as n - 1). The property text is on the string stack, the value (for SetPropS)
 * pushed after it:
 *
 *     Vrn$PushCString("0x7C8F"); Vrn$PushCString("3"); Vrn$SetPropS(1, 0, window);   // row 3
 *     Vrn$PushCString("SELECTED"); Vrn$GetPropS(1, 0, window);                       // "3"
 *
 * A property no class answers reads as the empty string and writes nothing. A statement on a
 * window that is not open is run-time error 536. The control statements work on the current target
 * window; a range (first, last) with first 0 covers every control, last 0 means first, and the two
 * are swapped when first is greater. A field number that names no control does nothing. */
#ifndef TARVEX_CONTROLS_H
#define TARVEX_CONTROLS_H

#include "tarvex/export.h"
#include "tarvex/queue.h"
#include "tarvex/values.h"

typedef struct VrnWindowObject VrnWindowObject;

/* Property numbers. Below 0x7D00 an index counts on from the number (VRN_PROP_XPOS with index 3 is
 * the width); from 0x7D00 up it is passed on. */
#define VRN_PROP_TEXT 0x7C00
#define VRN_PROP_TYPE 0x7C01
#define VRN_PROP_X_POS 0x7C02 /* x, y, width, height: 0x7C02..0x7C05 */
#define VRN_PROP_Y_POS 0x7C03
#define VRN_PROP_WIDTH 0x7C04
#define VRN_PROP_HEIGHT 0x7C05
#define VRN_PROP_FONT_NAME 0x7C10 /* face, size, colour, style: 0x7C10..0x7C13 */
#define VRN_PROP_FONT_STYLE 0x7C13
#define VRN_PROP_RANGE_LOW 0x7C14
#define VRN_PROP_RANGE_HIGH 0x7C15
#define VRN_PROP_MSG 0x7C5D
#define VRN_PROP_DEFAULT 0x7C5E
#define VRN_PROP_DISABLE 0x7C5F
#define VRN_PROP_CURSOR 0x7C61
#define VRN_PROP_HIDE 0x7C65
#define VRN_PROP_HELP 0x7C66
#define VRN_PROP_REQUIRED 0x7C67 /* control flag 0x1 */
#define VRN_PROP_ICON 0x7C68
#define VRN_PROP_ICONIZE 0x7C69
#define VRN_PROP_READ_ONLY 0x7C6A /* control flag 0x800 */
#define VRN_PROP_MAXIMIZE 0x7C6F
#define VRN_PROP_KEY 0x7C73 /* the companion of the help keyword */
#define VRN_PROP_FORMAT 0x7C7C /* a LIST's format; setting it parses it again */
#define VRN_PROP_VALUE 0x7C8A
#define VRN_PROP_IMMEDIATE 0x7C8B /* control flag 0x2 */
#define VRN_PROP_ITEMS 0x7C8E /* a LIST's rows on a page */
#define VRN_PROP_SELECTED 0x7C8F
#define VRN_PROP_ACCEPT_ALL 0x7C9A
#define VRN_PROP_V_SCROLL_POS 0x7C9E
#define VRN_PROP_TIP 0x7CA0
#define VRN_PROP_VISIBLE 0x7CA7
#define VRN_PROP_ENABLED 0x7CA8
#define VRN_PROP_RESIZABLE 0x7CAD /* the window's frame can be sized */
#define VRN_PROP_MAXIMIZED 0x7CAF /* the window is maximized now; 0 restores it */
#define VRN_PROP_MINIMIZED 0x7CB0 /* the window is minimized now */
#define VRN_PROP_STATUS_TEXT 0x7CBD /* the text in the frame's status bar */
#define VRN_PROP_FROM 0x7CFA /* a LIST's FROM queue (SetPropQ); reads its records */
#define VRN_PROP_SCREEN_TEXT 0x7A10
#define VRN_PROP_FEQ 0x7A11
#define VRN_PROP_AUTO_WIDTH 0x7A40
#define VRN_PROP_AUTO_HEIGHT 0x7A41
#define VRN_PROP_INDEXED 0x7D00 /* from here the index is passed on, counted from 0 */
#define VRN_PROP_WINDOW_STRING 0x7D01 /* strings the program keeps on the window, by index */
#define VRN_PROP_LIST_ICONS 0x7D02 /* a LIST's icons by index: a cell whose icon field holds n shows icon n */
#define VRN_PROP_ALERT_KEY 0x7D06

#define VRN_TARGET_CURRENT ((VrnWindowObject*)0)
#define VRN_TARGET_PRINTER ((VrnWindowObject*)(intptr_t)-1)
#define VRN_TARGET_SYSTEM ((VrnWindowObject*)(intptr_t)-4)

TARVEX_BEGIN_C

/* Properties. */
TARVEX_API void Vrn$GetPropS(int32_t field, int32_t index, VrnWindowObject* target);
TARVEX_API void Vrn$SetPropS(int32_t field, int32_t index, VrnWindowObject* target);
TARVEX_API void Vrn$SetPropV(int32_t field, int32_t index, VrnWindowObject* target, Ufo* value);
TARVEX_API void Vrn$SetPropF(int32_t field, int32_t index, VrnWindowObject* target, Ufo* variable);
TARVEX_API void Vrn$SetPropQ(int32_t field, int32_t index, VrnWindowObject* target, QueueDecl* queue);
TARVEX_API void Vrn$DoProp(int32_t field, int32_t index, VrnWindowObject* target);

/* Control statements on the current target window. */
TARVEX_API void Vrn$HIDE(int32_t first, int32_t last);
TARVEX_API void Vrn$UNHIDE(int32_t first, int32_t last);
TARVEX_API void Vrn$DISABLE(int32_t first, int32_t last);
TARVEX_API void Vrn$ENABLE(int32_t first, int32_t last);
/* Bound variables to controls; nothing on a report. */
TARVEX_API void Vrn$DISPLAY(int32_t first, int32_t last);
/* Controls to bound variables. */
TARVEX_API void Vrn$UPDATE(int32_t first, int32_t last);
/* Pops the value from the string stack and puts it into the control and its variable. */
TARVEX_API void Vrn$CHANGE(int32_t field);
TARVEX_API void Vrn$ERASE(int32_t first, int32_t last);
/* In the window's unit; 0x80000000 keeps a value. */
TARVEX_API void Vrn$SETPOSITION(int32_t field, int32_t x, int32_t y, int32_t width, int32_t height);
TARVEX_API void Vrn$GETPOSITION(int32_t field, int32_t* x, int32_t* y, int32_t* width, int32_t* height);
/* A null face, a size of 0, a colour of 0xFFFFFFFF or a style of 0 keep that part. */
TARVEX_API void Vrn$SETFONT(int32_t field, const char* face, int32_t size, uint32_t colour, int32_t style);
TARVEX_API void Vrn$GETFONT(int32_t field, char* face, uint32_t face_size, int32_t* size, uint32_t* colour,
                            int32_t* style);
/* A control of the kind at run time, hidden until shown, with its size from its contents.
 * Placement: `parent` is 0 for the window itself or the field number of the GROUP, OPTION, SHEET or
 * TAB that holds it (a RADIO goes only into an OPTION, a TAB only into a SHEET, and a SHEET holds
 * only TABs); it starts at its parent's corner. `position` is its place among the parent's
 * controls, from 1 (a tab at 1 becomes the first tab); 0 puts it after them, and a place past the
 * last is the last. Field 0 takes the number after the highest of the window. Returns the field
 * number, 0 when nothing was made: a negative or taken field number, a kind that is no control, a
 * parent that names no control or cannot hold the kind. Run-time error 541 while the system is
 * modal. */
TARVEX_API int32_t Vrn$CREATE(int32_t field, int32_t kind, int32_t parent, int32_t position);
TARVEX_API void Vrn$DESTROY(int32_t first, int32_t last);
/* Pops the menu text ("&Add|~&Change|-|+&Totals": items separated by '|', '-' a separator, '~'
 * disabled, '+' checked, '&' the hot key) and shows it; returns the chosen item (separators not
 * counted), 0 when none. */
TARVEX_API int32_t Vrn$POPUP(void);
/* The choice of a LIST, OPTION, SHEET or CHECK (field 0: the control of the current event). */
TARVEX_API int32_t Vrn$CHOICE(int32_t field);

/* The file dialog, over the target window. On the string stack, top first: the filter (pairs of a
 * description and its patterns separated by '|', a pair's patterns by ';': "Claims|*.wmf|All files
 * (*.*)|*.*"; empty: every file) and the title (empty: the dialog's own). `file` is a blank-padded
 * STRING of `size` bytes: the file or folder to start from, and on acceptance the chosen file as
 * the program names files ("C:\LUMAREX\claims.pdf"). With VRN_FILEDIALOG_SAVE the person names a
 * file to write (it need not exist), else chooses one to read. Returns 1 when a file was chosen,
 * 0 when the person cancelled (the variable keeps its text) or on error: 387 with no variable, 45
 * when the chosen name does not fit the variable. */
#define VRN_FILEDIALOG_SAVE 1
TARVEX_API int32_t Vrn$FILEDIALOG(char* file, uint32_t size, int32_t flag);

TARVEX_END_C

#endif
