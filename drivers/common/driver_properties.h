/* SPDX-License-Identifier: GPL-3.0-or-later */
/* The properties a KELSTORE or VARNEL file answers to GET_PROPERTY (the value as text) and takes
 * from SET_PROPERTY. Setting a property that is only read, or one of another number, is ignored;
 * reading one of another number gives an empty text. Valid C and C++. */
#ifndef LUMAREX_DRIVER_PROPERTIES_H
#define LUMAREX_DRIVER_PROPERTIES_H

#define VRN_DRIVER_PROP_DRIVER 0x7D01      /* read only: "KELSTORE" or "VARNEL" */
#define VRN_DRIVER_PROP_FILES 0x7D02       /* read only: database files of the table (1 + key files) */
#define VRN_DRIVER_PROP_QUICKSCAN 0x7D03   /* "on" or "off", as SEND "QUICKSCAN=" */
#define VRN_DRIVER_PROP_RECOVER 0x7D04     /* a number, as SEND "Recover=" */
#define VRN_DRIVER_PROP_WAIT 0x7D05        /* milliseconds an operation waits for a lock another holds */
#define VRN_DRIVER_PROP_TRANSACTION 0x7D06 /* read only: "1" while the file takes part in a LOGOUT */

#endif
