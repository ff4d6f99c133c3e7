// Modal dialogs on the system's dialog manager, built from a dialog template in the program's
// resources, with a table-driven message map.
//
// DoModal passes the object to the dialog procedure as the WM_INITDIALOG parameter; the procedure
// keeps it in the window's DWLP_USER slot and hands every later message to Dispatch, which walks
// the class's message map and then its bases' maps. Messages no entry takes go to the dialog
// manager's default processing, except IDOK and IDCANCEL, which end the dialog through OnOK and
// OnCancel.
#ifndef QUILLON_FRAMEWORK_DIALOG_H_
#define QUILLON_FRAMEWORK_DIALOG_H_

#include <windows.h>

#include "framework/wnd.h"

class CDialog;
class CDataExchange;

// How a handler takes its message.
enum class HandlerSignature : unsigned char {
  kVoid,        // void ()                         commands, WM_PAINT, WM_DESTROY
  kSysCommand,  // void (UINT id, LPARAM)          WM_SYSCOMMAND
  kSize,        // void (UINT type, int cx, int cy)  WM_SIZE
  kTimer,       // void (UINT_PTR id)              WM_TIMER
  kQueryIcon,   // HCURSOR ()                      WM_QUERYDRAGICON, returned to the caller
  kMessage,     // LRESULT (WPARAM, LPARAM)        any message, the program's own included
};

// A handler, stored in the member that matches its signature.
union DialogHandler {
  void (CDialog::*plain)();
  void (CDialog::*sysCommand)(UINT, LPARAM);
  void (CDialog::*size)(UINT, int, int);
  void (CDialog::*timer)(UINT_PTR);
  HCURSOR (CDialog::*queryIcon)();
  LRESULT (CDialog::*message)(WPARAM, LPARAM);
};

// One row of a message map. A WM_COMMAND row also matches the notification code and control id.
struct MessageMapEntry {
  UINT message;
  UINT code;
  UINT id;
  HandlerSignature signature;
  DialogHandler handler;
};

// A class's rows, ending with a row whose message is 0, and its base class's map.
struct MessageMap {
  const MessageMap* base;
  const MessageMapEntry* entries;
};

namespace framework_detail {

// A derived class's handler, as a handler of CDialog (the first base of every dialog class).
template <class T>
MessageMapEntry Row(UINT message, void (T::*handler)()) {
  MessageMapEntry e{message, 0, 0, HandlerSignature::kVoid, {}};
  e.handler.plain = static_cast<void (CDialog::*)()>(handler);
  return e;
}
template <class T>
MessageMapEntry Row(UINT message, void (T::*handler)(UINT, LPARAM)) {
  MessageMapEntry e{message, 0, 0, HandlerSignature::kSysCommand, {}};
  e.handler.sysCommand = static_cast<void (CDialog::*)(UINT, LPARAM)>(handler);
  return e;
}
template <class T>
MessageMapEntry Row(UINT message, void (T::*handler)(UINT, int, int)) {
  MessageMapEntry e{message, 0, 0, HandlerSignature::kSize, {}};
  e.handler.size = static_cast<void (CDialog::*)(UINT, int, int)>(handler);
  return e;
}
template <class T>
MessageMapEntry Row(UINT message, void (T::*handler)(UINT_PTR)) {
  MessageMapEntry e{message, 0, 0, HandlerSignature::kTimer, {}};
  e.handler.timer = static_cast<void (CDialog::*)(UINT_PTR)>(handler);
  return e;
}
template <class T>
MessageMapEntry Row(UINT message, HCURSOR (T::*handler)()) {
  MessageMapEntry e{message, 0, 0, HandlerSignature::kQueryIcon, {}};
  e.handler.queryIcon = static_cast<HCURSOR (CDialog::*)()>(handler);
  return e;
}
template <class T>
MessageMapEntry Row(UINT message, LRESULT (T::*handler)(WPARAM, LPARAM)) {
  MessageMapEntry e{message, 0, 0, HandlerSignature::kMessage, {}};
  e.handler.message = static_cast<LRESULT (CDialog::*)(WPARAM, LPARAM)>(handler);
  return e;
}
template <class T>
MessageMapEntry CommandRow(UINT code, UINT id, void (T::*handler)()) {
  MessageMapEntry e = Row(WM_COMMAND, handler);
  e.code = code;
  e.id = id;
  return e;
}

}  // namespace framework_detail

#define DECLARE_MESSAGE_MAP()                   \
 protected:                                     \
  static const MessageMap* GetThisMessageMap(); \
  const MessageMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                      \
  const MessageMap* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
  const MessageMap* theClass::GetThisMessageMap() {                                 \
    using ThisClass = theClass;                                                     \
    using TheBaseClass = baseClass;                                                 \
    static const MessageMapEntry entries[] = {
#define END_MESSAGE_MAP()                                                     \
  {                                                                           \
    0, 0, 0, HandlerSignature::kVoid, { nullptr }                             \
  }                                                                           \
  }                                                                           \
  ;                                                                           \
  static const MessageMap map = {TheBaseClass::GetThisMessageMap(), entries}; \
  return &map;                                                                \
  }

#define ON_WM_SYSCOMMAND() framework_detail::Row(WM_SYSCOMMAND, &ThisClass::OnSysCommand),
#define ON_WM_PAINT() framework_detail::Row(WM_PAINT, &ThisClass::OnPaint),
#define ON_WM_QUERYDRAGICON() framework_detail::Row(WM_QUERYDRAGICON, &ThisClass::OnQueryDragIcon),
#define ON_WM_SIZE() framework_detail::Row(WM_SIZE, &ThisClass::OnSize),
#define ON_WM_TIMER() framework_detail::Row(WM_TIMER, &ThisClass::OnTimer),
#define ON_WM_DESTROY() framework_detail::Row(WM_DESTROY, &ThisClass::OnDestroy),
#define ON_MESSAGE(message, handler) framework_detail::Row(message, &ThisClass::handler),
#define ON_BN_CLICKED(id, handler) \
  framework_detail::CommandRow(BN_CLICKED, id, &ThisClass::handler),

// The direction of one data exchange: controls to members (save) or members to controls.
class CDataExchange {
 public:
  CDataExchange(CDialog* dialog, BOOL saveAndValidate)
      : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}
  CDialog* m_pDlgWnd;
  BOOL m_bSaveAndValidate;
};

// Binds `control` to the dialog's child `id`, once; a missing child leaves it unbound.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

class CDialog : public CWnd {
 public:
  // `templateId` names a dialog template in the program's resources; `parent` may be null.
  explicit CDialog(UINT templateId, CWnd* parent = nullptr);
  ~CDialog() override;

  // Creates the dialog from its template and runs the dialog manager's modal loop until
  // EndDialog. Returns EndDialog's result, or -1 when the dialog could not be created.
  virtual INT_PTR DoModal();

  // Runs DoDataExchange. Always true: nothing here can fail to exchange.
  BOOL UpdateData(BOOL saveAndValidate = TRUE);
  void EndDialog(int result) { ::EndDialog(m_hWnd, result); }

 protected:
  // Once, after the controls exist and before the dialog shows: exchanges data into the
  // controls. True lets the dialog manager give the focus to the first tab stop.
  virtual BOOL OnInitDialog();
  virtual void DoDataExchange(CDataExchange* pDX);
  // IDOK: exchanges data out of the controls, then ends the dialog with IDOK.
  virtual void OnOK();
  // IDCANCEL: ends the dialog with IDCANCEL.
  virtual void OnCancel();

  // Default processing of the message being handled; a handler calls it at most once.
  LRESULT Default();
  void OnSysCommand(UINT, LPARAM) { Default(); }
  void OnPaint() { Default(); }
  void OnSize(UINT, int, int) { Default(); }
  void OnTimer(UINT_PTR) { Default(); }
  void OnDestroy() { Default(); }

  static const MessageMap* GetThisMessageMap();
  virtual const MessageMap* GetMessageMap() const;

 private:
  struct Message {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };

  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  const MessageMapEntry* FindEntry(UINT message, WPARAM wParam) const;
  LRESULT Invoke(const MessageMapEntry& entry, WPARAM wParam, LPARAM lParam);

  UINT m_templateId;
  CWnd* m_pParentWnd;
  const Message* m_current = nullptr;     // the message being dispatched
  const Message* m_defaulting = nullptr;  // the message handed to default processing
  LRESULT m_defaultResult = 0;
};

#endif  // QUILLON_FRAMEWORK_DIALOG_H_
