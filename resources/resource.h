// Resource numbers shared by the program and its language libraries.
#pragma once

// Dialog templates, icon and pictures.
#define IDD_ABOUTBOX            100
#define IDD_KLARNER_DIALOG      102
#define IDD_CONFIG              174
#define IDR_MAINFRAME           128
#define IDR_MAINMENU            130
#define IDR_GIF_SEARCHING       172
#define IDR_GIF_IDLE            173

// Strings.
#define IDS_ABOUTBOX            101
#define IDS_CANCEL_DONE         102
#define IDS_CANCEL_SEARCHING    103
#define IDS_REMOVE_FAILED       104
#define IDS_FOUND_FMT           105
#define IDS_FOUND_NONE          106
#define IDS_ALREADY_RUNNING     107
#define IDS_REPORT_OPEN_FAILED  108
#define IDS_REPORT_RESULTS      109
#define IDS_LABEL_ROOTKEYS      110
#define IDS_LABEL_KEYWORDS      111
#define IDS_LABEL_REPORT        112
#define IDS_LABEL_BROWSE_HINT   113
#define IDS_CONFIG_CAPTION      114
#define IDS_DEFAULT_KEYWORDS    115
#define IDS_ADMIN_REQUIRED      116
#define IDS_ADMIN_CAPTION       117
#define IDS_DATE_PLACEHOLDER    118
#define IDS_TIME_PLACEHOLDER    119
#define IDS_DEFAULT_REPORT      120
#define IDS_REPORT_COUNT_FMT    121
#define IDS_DEFAULT_OFF_WARNING 122
#define IDS_REPORT_KEYWORDS     123
#define IDS_LABEL_ROOTKEY_LIST  124
#define IDS_LABEL_REPORT_PATH   125
#define IDS_NO_ROOTKEY          126
#define IDS_OK_SEARCH           181
#define IDS_OK_REMOVE           182
#define IDS_ERROR_CAPTION       183
#define IDS_OPEN_FAILED         184
#define IDS_THREAD_FAILED       185
#define IDS_STATUS_SEARCHING    186
#define IDS_STATUS_DONE         187
#define IDS_NOTHING_TICKED      188
#define IDS_REMOVE_QUESTION     189
#define IDS_REMOVE_CAPTION      190
#define IDS_REMOVE_FAILED_SUFFIX 191
#define IDS_USAGE               192
#define IDS_UNKNOWN_ARGUMENT    193
#define IDS_STATUS_PROGRESS_FMT 194
#define IDS_CONFLICTING_SWITCH  195
#define IDS_OUT_OF_MEMORY       196
#define IDS_NO_KEYWORD          197
#define IDS_INTERNAL_ERROR      198
#define IDS_REMOVED_AT_RESTART  199
#define IDS_FILTER_STILL_NAMES  200
#define IDS_COLUMN_REASON       201
#define IDS_FOLLOW_REFERENCES   202
#define IDS_USAGE_ALONE         203
#define IDS_RECORD_CONFLICT     204
#define IDS_RECORD_FAILED       205
#define IDS_FILTER_MAY_NAME     206
#define IDS_PROVIDER_STILL_NAMED 207
#define IDS_SECURITY_CENTER_REFUSED 208
#define IDS_REPORT_RESTORE      209
#define IDS_RESTORE_FAILED_SUFFIX 210
#define IDS_NOT_A_BACKUP        211
#define IDS_UNDO_QUESTION       212
#define IDS_UNDO_DONE           213
#define IDS_UNDO_FAILED         214
#define IDS_RESTORE_ALONE       215
#define IDS_FILES_STILL_NAMED   216
#define IDS_OFFLINE_REFUSED     217
#define IDS_OFFLINE_NOT_LOADED  218
#define IDS_OFFLINE_NOT_UNLOADED 219
#define IDS_REPORT_OFFLINE      220
#define IDS_OFFLINE_ROOT        221
#define IDS_LABEL_REPAIR        222
#define IDS_LABEL_OFFLINE       223
#define IDS_FIND_DANGLING       224
// The kinds of leftover, as the window names them.
#define IDS_KIND_KEY            400
#define IDS_KIND_FILTER_ENTRY   401
#define IDS_KIND_SERVICE        402
#define IDS_KIND_PROVIDER_ORDER 403
#define IDS_KIND_TASK           404
#define IDS_KIND_TRACE_SESSION  405
#define IDS_KIND_CLASS          406
#define IDS_KIND_TYPE_LIBRARY   407
#define IDS_KIND_INTERFACE      408
#define IDS_KIND_APPID          409
#define IDS_KIND_UNINSTALL_ENTRY 410
#define IDS_KIND_CLASS_HANDLER  411
#define IDS_KIND_EVENT_SOURCE   412
#define IDS_KIND_WINSOCK        413
#define IDS_KIND_SECURITY_CENTER 414
#define IDS_KIND_APPROVAL       415
#define IDS_KIND_STARTUP_ENTRY  416
#define IDS_KIND_STARTUP_VALUE  417
#define IDS_KIND_FOLDER         418
#define IDS_KIND_FILE           419
#define IDS_APP_TITLE           0xE000

// Main dialog controls and commands.
#define IDC_RESULT_LIST         1000
#define IDC_SELECT_ALL          1001
#define IDC_PICTURE             1003
#define IDC_STATUS              1028
#define IDC_SETTINGS            1029
#define IDC_CLEAR               1030
#define ID_HELP_ABOUT           32772
#define ID_FILE_EXIT            32774
#define ID_FILE_SETTINGS        32775
#define ID_FILE_UNDO            32776
#define IDM_ABOUTBOX            0x0010

// Settings dialog controls.
#define IDC_CFG_LABEL_ROOTKEYS  1000
#define IDC_CFG_ROOT_LIST       1001
#define IDC_CFG_KEYWORDS        1012
#define IDC_CFG_DEFAULT_KEYWORDS 1016
#define IDC_CFG_LABEL_PATH      1023
#define IDC_CFG_BROWSE          1024
#define IDC_CFG_PATH            1025
#define IDC_CFG_GROUP_ROOTKEYS  1030
#define IDC_CFG_GROUP_KEYWORDS  1031
#define IDC_CFG_GROUP_REPORT    1032
#define IDC_CFG_KEYWORDS_HINT   1033
#define IDC_CFG_REFERENCES      1034
#define IDC_CFG_GROUP_REPAIR    1035
#define IDC_CFG_LABEL_OFFLINE   1036
#define IDC_CFG_OFFLINE         1037
#define IDC_CFG_DANGLING        1038

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
