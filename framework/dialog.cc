#include "framework/dialog.h"

#include "framework/win_app.h"

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
  if (control.m_hWnd == nullptr) control.m_hWnd = pDX->m_pDlgWnd->GetDlgItem(id);
}

CDialog::CDialog(UINT templateId, CWnd* parent) : m_templateId(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal() {
  HWND parent = m_pParentWnd != nullptr ? m_pParentWnd->m_hWnd : nullptr;
  return ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(m_templateId), parent,
                           DialogProc, reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
  CDataExchange dx(this, saveAndValidate);
  DoDataExchange(&dx);
  return TRUE;
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

const MessageMap* CDialog::GetThisMessageMap() {
  static const MessageMapEntry entries[] = {{0, 0, 0, HandlerSignature::kVoid, {nullptr}}};
  static const MessageMap map = {nullptr, entries};
  return &map;
}

const MessageMap* CDialog::GetMessageMap() const { return GetThisMessageMap(); }

LRESULT CDialog::Default() {
  if (m_current == nullptr) return 0;
  // The dialog manager calls this dialog procedure first; Dispatch recognises the message and
  // declines it, so the manager's own processing runs.
  const Message* outer = m_defaulting;
  m_defaulting = m_current;
  m_defaultResult = ::DefDlgProcA(m_hWnd, m_current->message, m_current->wParam, m_current->lParam);
  m_defaulting = outer;
  return m_defaultResult;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<CDialog*>(lParam);
    ::SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    dialog->m_hWnd = hwnd;
    const Message current{message, wParam, lParam};
    const Message* outer = dialog->m_current;
    dialog->m_current = &current;
    const BOOL focus = dialog->OnInitDialog();
    dialog->m_current = outer;
    return focus;
  }
  // Messages before WM_INITDIALOG (WM_SETFONT and the like) find no object yet.
  auto* dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
  return dialog != nullptr ? dialog->Dispatch(message, wParam, lParam) : FALSE;
}

const MessageMapEntry* CDialog::FindEntry(UINT message, WPARAM wParam) const {
  for (const MessageMap* map = GetMessageMap(); map != nullptr; map = map->base) {
    for (const MessageMapEntry* e = map->entries; e->message != 0; ++e) {
      if (e->message != message) continue;
      if (message == WM_COMMAND && (e->code != HIWORD(wParam) || e->id != LOWORD(wParam))) continue;
      return e;
    }
  }
  return nullptr;
}

LRESULT CDialog::Invoke(const MessageMapEntry& entry, WPARAM wParam, LPARAM lParam) {
  m_defaultResult = 0;
  const DialogHandler& h = entry.handler;
  switch (entry.signature) {
    case HandlerSignature::kVoid:
      (this->*h.plain)();
      break;
    case HandlerSignature::kSysCommand:
      (this->*h.sysCommand)(static_cast<UINT>(wParam), lParam);
      break;
    case HandlerSignature::kSize:
      (this->*h.size)(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
      break;
    case HandlerSignature::kTimer:
      (this->*h.timer)(static_cast<UINT_PTR>(wParam));
      break;
    case HandlerSignature::kQueryIcon:
      return reinterpret_cast<LRESULT>((this->*h.queryIcon)());
    case HandlerSignature::kMessage:
      return (this->*h.message)(wParam, lParam);
  }
  return m_defaultResult;
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_defaulting != nullptr && m_defaulting->message == message &&
      m_defaulting->wParam == wParam && m_defaulting->lParam == lParam) {
    m_defaulting = nullptr;
    return FALSE;
  }
  const Message current{message, wParam, lParam};
  const Message* outer = m_current;
  m_current = &current;
  bool handled = true;
  LRESULT result = 0;
  const bool clicked = message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED;
  if (const MessageMapEntry* entry = FindEntry(message, wParam)) {
    result = Invoke(*entry, wParam, lParam);
  } else if (clicked && LOWORD(wParam) == IDOK) {
    OnOK();
  } else if (clicked && LOWORD(wParam) == IDCANCEL) {
    OnCancel();
  } else if (message == WM_COMMAND && lParam == 0 && AfxGetApp() != nullptr &&
             AfxGetApp()->OnCmdMsg(LOWORD(wParam))) {
    // a menu or accelerator command the application handles
  } else {
    handled = false;
  }
  m_current = outer;

  if (message == WM_NCDESTROY) {
    // The window is gone: the object may outlive it, but must not be reached through it.
    if (AfxGetApp() != nullptr && AfxGetApp()->m_pMainWnd == this)
      AfxGetApp()->m_pMainWnd = nullptr;
    ::SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
    m_hWnd = nullptr;
    return FALSE;
  }
  if (!handled) return FALSE;
  // The dialog manager returns these messages' results from the procedure's own return value.
  if (message == WM_QUERYDRAGICON) return static_cast<INT_PTR>(result);
  ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
  return TRUE;
}
