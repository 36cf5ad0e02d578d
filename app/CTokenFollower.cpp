#include "app/CTokenFollower.h"

#include "token/TokenMessages.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

CTokenFollower::CTokenFollower(std::shared_ptr<CTokenModule> pToken) : m_pToken(std::move(pToken))
{
    m_pacedRefresh.setSingleShot(true);
    connect(&m_pacedRefresh, &QTimer::timeout, this, [this] { RunPacedRefresh(); });
}

CTokenFollower::~CTokenFollower()
{
    Stop();
}

void CTokenFollower::SetIdlePause(std::chrono::milliseconds pause)
{
    m_idlePause = pause;
    m_pMonitor->SetIdlePause(pause);
    m_pacing.SetInterval(pause);
}

std::shared_ptr<CPresenceMonitor> CTokenFollower::NewMonitor()
{
    std::shared_ptr<CPresenceMonitor> pMonitor = CPresenceMonitor::Create(m_pToken, m_handOver);
    pMonitor->SetIdlePause(m_idlePause);
    return pMonitor;
}

bool CTokenFollower::Start()
{
    if (!m_handOver.Prepare(this))
        return false;
    m_handOver.Resume();
    // A thread left behind keeps its monitor: start a new one.
    if (m_pMonitor->IsRunning() || IsLeftBehind(m_pMonitor))
        m_pMonitor = NewMonitor();
    return m_pMonitor->Start(m_pToken->SlotList());
}

bool CTokenFollower::Stop(std::chrono::milliseconds timeout)
{
    if (!IsLeftBehind(m_pMonitor)) {
        // A hand-over waiting for this thread would hold the monitor's up.
        m_handOver.GiveUp();
        if (!m_pMonitor->Stop(timeout))
            m_leftBehind.push_back(m_pMonitor);
    }
    return m_leftBehind.empty();
}

bool CTokenFollower::IsLeftBehind(const std::shared_ptr<CPresenceMonitor>& pMonitor) const
{
    return std::find(m_leftBehind.begin(), m_leftBehind.end(), pMonitor) != m_leftBehind.end();
}

void CTokenFollower::OnMessage(UINT message, WPARAM wParam)
{
    if (message != WM_TOKEN_INSERTED && message != WM_TOKEN_REMOVED)
        return;
    // The removal that holds them refreshes the list when it ends.
    if (m_bHeld) {
        ++m_ulEvents;
        return;
    }
    if (message == WM_TOKEN_INSERTED)
        OnTokenInserted(static_cast<CK_SLOT_ID>(wParam));
    else
        OnTokenRemoved(static_cast<CK_SLOT_ID>(wParam));
}

// A token the choice would not take (not initialised, not the URI's) is no
// reason to read the token again; one it takes is listed after the token
// shown, which keeps its place.
void CTokenFollower::OnTokenInserted(CK_SLOT_ID slot)
{
    ++m_ulEvents;
    CK_TOKEN_INFO info{};
    if (m_pToken->GetTokenInfo(slot, &info) == CKR_OK && m_tokenChoice.Accepts(info))
        RefreshPaced(slot);
}

// A module may report an event on every poll: the token is read at most
// once a poll interval, not on every report.
void CTokenFollower::RefreshPaced(CK_SLOT_ID slot)
{
    std::optional<CRefreshPacing::Duration> wait = m_pacing.Ask(m_pacingClock());
    if (!wait)
        return;
    if (*wait == CRefreshPacing::Duration::zero()) {
        emit TokenInserted(slot);
        return;
    }
    m_ulPacedSlot = slot;
    m_pacedRefresh.start(*wait);
}

// A read falling due while a removal holds token events would wait for
// the module its login holds: it is one more event held, which ends that
// removal as the others do.
void CTokenFollower::RunPacedRefresh()
{
    if (m_bHeld)
        ++m_ulEvents;
    else
        emit TokenInserted(m_ulPacedSlot);
}

void CTokenFollower::Answered()
{
    m_pacedRefresh.stop();
    m_pacing.Ran(m_pacingClock());
}

// Another token pulled out leaves the list and title of the one shown.
void CTokenFollower::OnTokenRemoved(CK_SLOT_ID slot)
{
    ++m_ulEvents;
    if (ShownTokenStillThere()) {
        m_pToken->Log().Debug(CTokenLog::ETopic::Monitor,
                              "slot " + std::to_string(slot) + ": not the token shown, the list stays");
        return;
    }
    emit TokenRemoved(slot);
}

bool CTokenFollower::ShownTokenStillThere()
{
    std::optional<STokenIdentity> shown = m_pToken->ListedToken();
    STokenIdentity now;
    return shown && m_pToken->ReadTokenIdentity(0, now) == CKR_OK && now.IsSameToken(*shown);
}
