// SPDX-License-Identifier: MIT
// Identifiers of the program's resources, shared by the C++ sources and the resource scripts.
// Plain defines only: windres reads this file too.
#pragma once

#define IDD_UPDATE 103
#define IDI_APP 107

#define IDC_APP_ICON 2
#define IDC_CANCEL 3  // not IDCANCEL (2): that id belongs to the icon
#define IDC_UPDATE 1000
#define IDC_WELCOME 1002
#define IDC_EXPLAIN 1003
#define IDC_PROGRESS 1004
#define IDC_PROGRESS_LABEL 1005  // not shown: the bar's name for screen readers
#define IDC_SEPARATOR -1

#define IDS_PRODUCT 103
#define IDS_HELLO 106
#define IDS_CLASS 109
#define IDS_FINISH 110
#define IDS_UPDATING 120  // what Windows shows while the program holds a logoff back
#define IDS_LANGUAGE 121  // the language of the resources Windows chose: "1033" or "1041"
#define IDS_USAGE_CAPTION 122
#define IDS_PASSIVE_EXPLAIN 123  // the explanation while /passive runs: %s the version

// The finished state's sentences, one per SummaryKind (src/outcome/outcome.h) in its order.
#define IDS_SUMMARY_FIRST 200
#define IDS_SUMMARY_DONE 200
#define IDS_SUMMARY_RESTART 201
#define IDS_SUMMARY_IN_USE 202
#define IDS_SUMMARY_DENIED 203
#define IDS_SUMMARY_DAMAGED 204
#define IDS_SUMMARY_NOT_WRITTEN 205
#define IDS_SUMMARY_OTHER 206
#define IDS_SUMMARY_DISK_FULL 207
#define IDS_SUMMARY_NOT_FOUND 208
#define IDS_SUMMARY_CANCELLED 209
#define IDS_SUMMARY_UNREADABLE 210
// The command line's usage, for /?.
#define IDS_USAGE 220

// Predefined window classes as ordinals, as the dialog template stores them.
#define DLG_CLASS_BUTTON 0x0080
#define DLG_CLASS_STATIC 0x0082
