// Compiled with the GBK execution character set: its texts go to the ANSI window calls.
#include "app/main_dlg.h"

#include "discovery/folder_path.h"
#include "discovery/mailbox_search.h"
#include "discovery/store_locator.h"

namespace {

// Which edges of each control follow the dialog's right and bottom edges.
const AnchorEntry kMainAnchors[] = {
    {IDC_MAILBOX_FOLDER, ANCHOR_SIZE_X},
    {IDC_BACKUP_LABEL, ANCHOR_MOVE_Y},
    {IDC_BACKUP_FOLDER, ANCHOR_SIZE_X | ANCHOR_MOVE_Y},
    {IDC_EXPORT, ANCHOR_MOVE_X | ANCHOR_MOVE_Y},
    {IDC_FIND_MAILBOXES, ANCHOR_MOVE_X},
    {IDC_MAILBOX_LIST, ANCHOR_SIZE_X | ANCHOR_SIZE_Y},
    {IDC_PROGRESS, ANCHOR_MOVE_Y},
    {IDC_INSTRUCTION, ANCHOR_MOVE_Y},
    // Outside a group MOVE_X wins over SIZE_X: the status text moves and keeps its width.
    {IDC_STATUS, ANCHOR_SIZE_X | ANCHOR_MOVE_X | ANCHOR_MOVE_Y},
    {IDC_CANCEL_EXPORT, ANCHOR_MOVE_X | ANCHOR_MOVE_Y},
    {-1, 0},
};

constexpr DWORD kListExtendedStyle = LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT;

}  // namespace

BEGIN_MESSAGE_MAP(CMainDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_WM_SIZE()
ON_BN_CLICKED(IDC_FIND_MAILBOXES, OnFindMailboxFiles)
ON_BN_CLICKED(IDC_EXPORT, OnExport)
ON_BN_CLICKED(IDC_CANCEL_EXPORT, OnCancelExport)
ON_WM_TIMER()
ON_WM_DESTROY()
ON_MESSAGE(WM_EXPORT_FINISHED, OnExportFinished)
ON_MESSAGE(WM_EXPORT_REPORT, OnExportReport)
END_MESSAGE_MAP()

CMainDlg::CMainDlg(CWnd* pParent)
    : CDialog(IDD, pParent), CDialogLayout(static_cast<CWnd&>(*this)), m_job(*this, m_extractor) {
  m_appIcon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
}

// OnDestroy has already ended any worker and closed the stop event.
CMainDlg::~CMainDlg() = default;

void CMainDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_MAILBOX_LIST, m_fileList);
  DDX_Control(pDX, IDC_PROGRESS, m_progress);
}

BOOL CMainDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  // Before anything is hidden or filled, so every control is recorded where the template put it.
  InitLayout(kMainAnchors, true, WS_CLIPCHILDREN);

  SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_appIcon));
  SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_appIcon));
  if (HWND cancel = GetDlgItem(IDC_CANCEL_EXPORT)) ::ShowWindow(cancel, SW_HIDE);

  m_fileList.InsertColumn(0, "文件名", LVCFMT_LEFT, 400);
  // Mask 0 replaces the whole extended style.
  m_fileList.SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, kListExtendedStyle);

  std::string folder;
  bool found = quillon::ReadIdentityStoreRoot(folder);
  if (!found || folder.empty()) found = quillon::ReadClientStoreRoot(folder);
  if (found && !folder.empty()) {
    SetDlgItemText(IDC_MAILBOX_FOLDER, folder.c_str());
    SetDlgItemText(IDC_BACKUP_FOLDER, (folder + "\\Tamrel").c_str());
  }

  m_extractor.m_pSink = this;
  return TRUE;
}

void CMainDlg::OnSysCommand(UINT nID, LPARAM lParam) { CDialog::OnSysCommand(nID, lParam); }

void CMainDlg::OnPaint() {
  if (!IsIconic()) {
    CDialog::OnPaint();
    return;
  }
  CPaintDC dc(this);
  SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
  const int cxIcon = ::GetSystemMetrics(SM_CXICON);
  const int cyIcon = ::GetSystemMetrics(SM_CYICON);
  RECT rect;
  GetClientRect(&rect);
  const int x = MinimisedIconOrigin(rect.right - rect.left, cxIcon);
  const int y = MinimisedIconOrigin(rect.bottom - rect.top, cyIcon);
  dc.DrawIcon(x, y, m_appIcon);
}

HCURSOR CMainDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_appIcon); }

void CMainDlg::OnSize(UINT nType, int cx, int cy) {
  CDialog::OnSize(nType, cx, cy);
  if (nType != SIZE_MINIMIZED) UpdateLayout(cx, cy);
}

void CMainDlg::OnFindMailboxFiles() {
  // The button is disabled while a worker reads the list and the array; a click queued before
  // that must not rebuild them under it.
  if (m_job.Running()) return;
  m_mailboxFiles.RemoveAll();
  m_fileList.DeleteAllItems();

  const std::string typed = GetDlgItemText(IDC_MAILBOX_FOLDER);
  if (typed.empty()) {
    AfxMessageBox("邮箱文件路径不能为空");
    return;
  }
  const std::string folder = quillon::NormalizeFolderPath(typed);
  if (!quillon::IsExistingFolder(folder)) {
    AfxMessageBox("邮箱文件路径不是文件夹");
    return;
  }
  quillon::MailboxSearch search;
  if (!search.Start(folder)) return;
  for (bool more = true; more;) {
    const std::string name = search.Name();
    more = search.Next();
    const int k = m_mailboxFiles.Add(search.FullPath(name));
    const int item = m_fileList.InsertItem(m_fileList.GetItemCount(), name.c_str());
    if (item < 0) {
      AfxMessageBox("文件插入控件失败");
      break;
    }
    m_fileList.SetItemData(item, static_cast<DWORD_PTR>(k));
    m_fileList.SetItemState(item, INDEXTOSTATEIMAGEMASK(2), LVIS_STATEIMAGEMASK);
  }
  search.Close();
}

void CMainDlg::OnExport() { m_job.Export(); }

void CMainDlg::OnCancelExport() { m_job.Cancel(); }

void CMainDlg::OnTimer(UINT_PTR nIDEvent) {
  m_job.Tick(nIDEvent);
  CDialog::OnTimer(nIDEvent);
}

void CMainDlg::OnDestroy() {
  m_job.Close();
  CDialog::OnDestroy();
}

LRESULT CMainDlg::OnExportFinished(WPARAM outcome, LPARAM) { return m_job.Finished(outcome); }

LRESULT CMainDlg::OnExportReport(WPARAM outcome, LPARAM thread) {
  return m_job.Report(outcome, thread);
}

DWORD WINAPI CMainDlg::ExportThreadProc(LPVOID param) {
  if (param != nullptr) static_cast<CMainDlg*>(param)->RunExport();
  return kWorkerExitCode;
}

void CMainDlg::RunExport() { m_job.Run(); }

bool CMainDlg::OnNextFile(const char* fileName) { return m_job.NextFile(fileName); }

HANDLE CMainDlg::StartWorker() {
  DWORD threadId = 0;
  return ::CreateThread(nullptr, 0, ExportThreadProc, this, 0, &threadId);
}

bool CMainDlg::IsItemTicked(int item) const {
  // State image 1 is the empty box and 2 the ticked one; anything else counts as ticked too.
  return (m_fileList.GetItemState(item, LVIS_STATEIMAGEMASK) >> 12) != 1;
}

bool CMainDlg::MailboxPath(int item, std::string* path) const {
  // The find button, which rebuilds the array, is disabled while a worker asks.
  const DWORD_PTR k = m_fileList.GetItemData(item);
  if (k >= static_cast<DWORD_PTR>(m_mailboxFiles.GetSize())) return false;
  *path = m_mailboxFiles.GetAt(static_cast<int>(k));
  return true;
}

void CMainDlg::ShowButtons(ExportButtons buttons) {
  const auto show = [this](int id, int command) { ::ShowWindow(GetDlgItem(id), command); };
  switch (buttons) {
    case ExportButtons::kRunning:
      // The cancel button first, so the two never both disappear.
      show(IDC_CANCEL_EXPORT, SW_SHOWNORMAL);
      show(IDC_EXPORT, SW_HIDE);
      ::EnableWindow(GetDlgItem(IDC_FIND_MAILBOXES), FALSE);
      break;
    case ExportButtons::kStopping:
      show(IDC_CANCEL_EXPORT, SW_HIDE);
      break;
    case ExportButtons::kIdle:
      show(IDC_EXPORT, SW_SHOWNORMAL);
      show(IDC_CANCEL_EXPORT, SW_HIDE);
      ::EnableWindow(GetDlgItem(IDC_FIND_MAILBOXES), TRUE);
      break;
  }
}
