// The ids of the package program's resources: dialog templates, the icon and the controls that
// the program, its hosts and its tests address. The resource compiler reads this file too
// (resources/stub.rc), so the ids are plain #defines; C++ code uses the names in gp::ui below.
// The dialogs' OK and Cancel buttons are the standard IDOK (1) and IDCANCEL (2).
#ifndef GP_UI_RESOURCE_IDS_H
#define GP_UI_RESOURCE_IDS_H

// Dialog templates and the icon.
#define GP_DIALOG_MAIN 102
#define GP_ICON_MAIN 128
#define GP_DIALOG_PROPERTIES 129
#define GP_DIALOG_STATUS 130
#define GP_DIALOG_PROGRESS 131

// Main dialog: destination folder, Browse, Execute, Properties.
#define GP_MAIN_FOLDER_EDIT 1000
#define GP_MAIN_BROWSE 1001
#define GP_MAIN_EXECUTE 1002
#define GP_MAIN_PROPERTIES 1003

// Properties dialog: Browse, the group's folder, generations, groups and the three comments.
#define GP_PROP_BROWSE 1004
#define GP_PROP_FOLDER_EDIT 1005
#define GP_PROP_GENERATIONS 1006
#define GP_PROP_GROUPS 1007
#define GP_PROP_GENERATION_COMMENT 1011
#define GP_PROP_GROUP_COMMENT 1012
#define GP_PROP_PROJECT_COMMENT 1019

// Progress dialog and status window.
#define GP_PROGRESS_BAR 1013
#define GP_PROGRESS_STEP 1014
#define GP_PROGRESS_COUNTER 1015
#define GP_STATUS_TEXT 1018

#ifndef RC_INVOKED
namespace gp::ui {

inline constexpr int kDialogMain = GP_DIALOG_MAIN;
inline constexpr int kIconMain = GP_ICON_MAIN;
inline constexpr int kDialogProperties = GP_DIALOG_PROPERTIES;
inline constexpr int kDialogStatus = GP_DIALOG_STATUS;
inline constexpr int kDialogProgress = GP_DIALOG_PROGRESS;

inline constexpr int kMainFolderEdit = GP_MAIN_FOLDER_EDIT;
inline constexpr int kMainBrowse = GP_MAIN_BROWSE;
inline constexpr int kMainExecute = GP_MAIN_EXECUTE;
inline constexpr int kMainProperties = GP_MAIN_PROPERTIES;

inline constexpr int kPropBrowse = GP_PROP_BROWSE;
inline constexpr int kPropFolderEdit = GP_PROP_FOLDER_EDIT;
inline constexpr int kPropGenerations = GP_PROP_GENERATIONS;
inline constexpr int kPropGroups = GP_PROP_GROUPS;
inline constexpr int kPropGenerationComment = GP_PROP_GENERATION_COMMENT;
inline constexpr int kPropGroupComment = GP_PROP_GROUP_COMMENT;
inline constexpr int kPropProjectComment = GP_PROP_PROJECT_COMMENT;

inline constexpr int kProgressBar = GP_PROGRESS_BAR;
inline constexpr int kProgressStep = GP_PROGRESS_STEP;
inline constexpr int kProgressCounter = GP_PROGRESS_COUNTER;
inline constexpr int kStatusText = GP_STATUS_TEXT;

}  // namespace gp::ui
#endif  // RC_INVOKED

#endif  // GP_UI_RESOURCE_IDS_H
