/* SPDX-License-Identifier: GPL-3.0-or-later */
/* The whole exported interface of the tarvex runtime. */
#ifndef TARVEX_TARVEX_H
#define TARVEX_TARVEX_H

#include "tarvex/export.h"
#include "tarvex/file_decl.h"
#include "tarvex/frame.h"
#include "tarvex/string_stack.h"
#include "tarvex/char_tables.h"
#include "tarvex/decimal.h"
#include "tarvex/dates.h"
#include "tarvex/pictures.h"
#include "tarvex/type_descriptor.h"
#include "tarvex/queue.h"
#include "tarvex/values.h"
#include "tarvex/evaluate.h"
#include "tarvex/files.h"
#include "tarvex/views.h"
#include "tarvex/resources.h"
#include "tarvex/windows.h"
#include "tarvex/events.h"
#include "tarvex/threads.h"
#include "tarvex/keys.h"
#include "tarvex/reports.h"

#endif
