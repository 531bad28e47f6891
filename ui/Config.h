// The settings dialog: root keys to search, the keyword list and the report path. It edits
// copies; the owner takes the results back only after OK.
#pragma once
#include "../framework/afxwin.h"
#include "../engine/registry/RootKeys.h"

class CConfig : public CDialog
{
    DECLARE_DYNAMIC(CConfig)

public:
    CConfig(CWnd* parent, CString keywords, CString reportPath, const RootKeySlot* rootKeys);
    ~CConfig() override;

    CString GetReportPath() const { return m_reportPath; }
    CString GetKeywords() const { return m_keywordsResult; }
    const RootKeySlot* GetRootKeys() const { return m_rootKeys; }
    // Whether the search also finds leftovers by reference: shown ticked when `follow`, handed
    // back as the box was at OK.
    void SetFollowReferences(BOOL follow) { m_followReferences = follow; }
    BOOL GetFollowReferences() const { return m_followReferences; }
    // Another installation to repair (its Windows folder; empty: this one), and whether the
    // search also finds filter-list entries whose driver has no service key.
    void SetRepair(const CString& offlineFolder, BOOL dangling)
    {
        m_offlineFolder = offlineFolder;
        m_dangling = dangling;
    }
    CString GetOfflineFolder() const { return m_offlineFolder; }
    BOOL GetDangling() const { return m_dangling; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnBrowseClicked();
    void OnDefaultKeywordsClicked();
    void OnOkClicked();

    CString m_reportPath;
    CButton m_defaultKeywordsCheck;
    CEdit m_keywordEdit;
    CButton m_referencesCheck;
    CString m_keywordsResult;
    CString m_keywords;
    CString m_text;
    CString m_caption;
    CListCtrl* m_rootList = nullptr;
    RootKeySlot m_rootKeys[kRootKeyCount] = { 0, 0, 0, 0, 0 };
    BOOL m_followReferences = TRUE;
    CString m_offlineFolder;
    BOOL m_dangling = FALSE;

    DECLARE_MESSAGE_MAP()
};
