#pragma once
// Resource and control numbers shared by the resource script and the code.

#define IDI_TARSEL 100
#define IDD_CONNECT 101
#define IDD_PROGRESS 102
#define IDB_SORT_UP 103
#define IDB_SORT_DOWN 104
// The sort arrows again, drawn for 150 and 200 %
#define IDB_SORT_UP_150 105
#define IDB_SORT_DOWN_150 106
#define IDB_SORT_UP_200 107
#define IDB_SORT_DOWN_200 108

// Connect dialog
#define IDC_ADDRESS 200
#define IDC_LOGIN 201
#define IDC_PASSWORD 202
#define IDC_CONNECT 209
#define IDC_SAVE 210
#define IDC_REMOVE 211
#define IDC_KEEP_PASSWORD 212
#define IDC_ADDRESS_LIST 213
#define IDC_TOOLS 214
#define IDC_NOTE 218

// Tools menu
#define IDM_TOOLS 215
#define IDM_CLEAR_CACHE 217
#define IDM_CLEAR_ADDRESSES 219
#define IDM_EXPORT 220
#define IDM_IMPORT 221

// Progress dialog
#define IDC_STATUS 203
#define IDC_PROGRESS 204
#define IDC_TIME_LEFT 205
#define IDC_SPEED 206
#define IDC_TIME_LEFT_LABEL 207
#define IDC_SPEED_LABEL 208
