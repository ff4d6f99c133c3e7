// Resource and control identifiers, shared by the program and its resource script.
#ifndef QUILLON_APP_RESOURCE_H_
#define QUILLON_APP_RESOURCE_H_

#define IDD_QUILLON_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_MAILBOX_FOLDER 1000
#define IDC_BACKUP_FOLDER 1001
#define IDC_MAILBOX_LIST 1002
#define IDC_FIND_MAILBOXES 1003
#define IDC_EXPORT 1004
#define IDC_BACKUP_LABEL 1005
#define IDC_INSTRUCTION 1006
#define IDC_PROGRESS 1007
#define IDC_STATUS 1008
#define IDC_CANCEL_EXPORT 1009

#endif  // QUILLON_APP_RESOURCE_H_
