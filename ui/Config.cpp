// The settings dialog.
#include "Config.h"
#include "../engine/registry/Constants.h"
#include "WindowTexts.h"
#include "../resources/resource.h"

IMPLEMENT_DYNAMIC(CConfig, CDialog)

namespace {
const int kRootColumnWidth = 227;
const DWORD kBrowseFlags = OFN_EXPLORER | OFN_CREATEPROMPT | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
}

CConfig::CConfig(CWnd* parent, CString keywords, CString reportPath, const RootKeySlot* rootKeys)
    : CDialog(IDD_CONFIG, parent)
{
    m_keywords = keywords.IsEmpty() ? CString(kDefaultKeywords) : keywords;
    memcpy(m_rootKeys, rootKeys, sizeof m_rootKeys);
    m_reportPath = reportPath;
}

CConfig::~CConfig()
{
    delete m_rootList;
}

BEGIN_MESSAGE_MAP(CConfig, CDialog)
    ON_BN_CLICKED(IDC_CFG_BROWSE, &CConfig::OnBrowseClicked)
    ON_BN_CLICKED(IDC_CFG_DEFAULT_KEYWORDS, &CConfig::OnDefaultKeywordsClicked)
    ON_BN_CLICKED(IDOK, &CConfig::OnOkClicked)
END_MESSAGE_MAP()

void CConfig::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_CFG_DEFAULT_KEYWORDS, m_defaultKeywordsCheck);
    DDX_Control(pDX, IDC_CFG_KEYWORDS, m_keywordEdit);
    DDX_Control(pDX, IDC_CFG_REFERENCES, m_referencesCheck);
}

BOOL CConfig::OnInitDialog()
{
    m_text.LoadString(IDS_CONFIG_CAPTION);
    SetWindowText(m_text);
    const struct { int control; UINT text; } labels[] = {
        { IDC_CFG_GROUP_ROOTKEYS, IDS_LABEL_ROOTKEYS },     { IDC_CFG_GROUP_KEYWORDS, IDS_LABEL_KEYWORDS },
        { IDC_CFG_GROUP_REPORT, IDS_LABEL_REPORT },       { IDC_CFG_KEYWORDS_HINT, IDS_LABEL_BROWSE_HINT },
        { IDC_CFG_DEFAULT_KEYWORDS, IDS_DEFAULT_KEYWORDS }, { IDC_CFG_LABEL_ROOTKEYS, IDS_LABEL_ROOTKEY_LIST },
        { IDC_CFG_LABEL_PATH, IDS_LABEL_REPORT_PATH }, { IDC_CFG_REFERENCES, IDS_FOLLOW_REFERENCES },
        { IDC_CFG_GROUP_REPAIR, IDS_LABEL_REPAIR },       { IDC_CFG_LABEL_OFFLINE, IDS_LABEL_OFFLINE },
        { IDC_CFG_DANGLING, IDS_FIND_DANGLING },
    };
    for (const auto& label : labels) {
        m_text.LoadString(label.text);
        SetDlgItemText(label.control, m_text);
    }

    if (!CDialog::OnInitDialog())
        return FALSE;

    if (m_keywords == kDefaultKeywords)
        m_defaultKeywordsCheck.SetCheck(1);
    else
        m_keywordEdit.EnableWindow(TRUE);
    m_keywordEdit.SetWindowText(m_keywords);
    m_referencesCheck.SetCheck(m_followReferences ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemText(IDC_CFG_OFFLINE, m_offlineFolder);
    ::CheckDlgButton(m_hWnd, IDC_CFG_DANGLING, m_dangling ? BST_CHECKED : BST_UNCHECKED);

    m_text.LoadString(IDS_DEFAULT_REPORT);
    SetDlgItemText(IDC_CFG_PATH, m_reportPath.IsEmpty() ? m_text : m_reportPath);

    m_rootList = new CListCtrl;
    m_rootList->SubclassDlgItem(IDC_CFG_ROOT_LIST, this);
    m_rootList->SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    m_rootList->InsertColumn(0, kColumnRootKey, LVCFMT_CENTER, kRootColumnWidth, 0);
    for (int index = 0; index < kRootKeyCount; ++index) {
        m_rootList->InsertItem(index, RootKeyNameAt(index));
        if (m_rootKeys[index] != 0)
            m_rootList->SetCheck(index, TRUE);
    }
    return TRUE;
}

void CConfig::OnBrowseClicked()
{
    // Owned by this dialog, so that the settings cannot be confirmed or closed under it.
    CFileDialog dialog(TRUE, nullptr, nullptr, kBrowseFlags, nullptr, this, 0, TRUE);
    dialog.DoModal();
    m_reportPath = dialog.GetPathName();
    SetDlgItemText(IDC_CFG_PATH, m_reportPath);
}

void CConfig::OnDefaultKeywordsClicked()
{
    // Leftovers by reference follow the keyword list: a careless keyword of one's own must not
    // decide by a value's data, so they are on by default only with the default list.
    if (m_defaultKeywordsCheck.GetCheck() == 1) {
        m_keywordEdit.EnableWindow(FALSE);
        m_keywordEdit.SetWindowText(kDefaultKeywords);
        m_referencesCheck.SetCheck(BST_CHECKED);
        return;
    }
    m_text.LoadString(IDS_DEFAULT_OFF_WARNING);
    m_caption.LoadString(IDS_ADMIN_CAPTION);
    MessageBox(m_text, m_caption, MB_ICONEXCLAMATION);
    m_referencesCheck.SetCheck(BST_UNCHECKED);
    m_keywordEdit.EnableWindow(TRUE);
}

void CConfig::OnOkClicked()
{
    m_keywordEdit.GetWindowText(m_keywordsResult);
    m_followReferences = m_referencesCheck.GetCheck() == BST_CHECKED;
    GetDlgItemText(IDC_CFG_OFFLINE, m_offlineFolder);
    m_dangling = ::IsDlgButtonChecked(m_hWnd, IDC_CFG_DANGLING) == BST_CHECKED;
    CString pathText;
    GetDlgItemText(IDC_CFG_PATH, pathText);

    BOOL anySelected = FALSE;
    for (int index = 0; index < kRootKeyCount; ++index) {
        if (m_rootList->GetCheck(index) == 1) {
            m_rootKeys[index] = SlotFromHkey(HkeyFromName(m_rootList->GetItemText(index, 0)));
            anySelected = TRUE;
        } else {
            m_rootKeys[index] = 0;
        }
    }
    if (!anySelected) {
        m_text.LoadString(IDS_NO_ROOTKEY);
        m_caption.LoadString(IDS_ERROR_CAPTION);
        MessageBox(m_text, m_caption, MB_ICONERROR);
        return;
    }

    m_text.LoadString(IDS_DEFAULT_REPORT);
    if (pathText != m_text)
        GetDlgItemText(IDC_CFG_PATH, m_reportPath);
    CDialog::OnOK();
}
