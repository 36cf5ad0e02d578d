#include "app/CCertPurgeApp.h"

#include "app/CCertPurgeDlg.h"

bool CCertPurgeApp::InitInstance()
{
    CCertPurgeDlg dlg;
    dlg.DoModal();
    m_bThreadLeftBehind = !dlg.StopMonitor();
    return false;
}
