// The settings dialog: root keys to search, the keyword list and the report path. It edits
// copies; the owner takes the results back only after OK.
#pragma once
#include "../framework/afxwin.h"
#include "../engine/RootKeys.h"

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

    DECLARE_MESSAGE_MAP()
};
