#include "CBenchDialog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <stdexcept>

CBenchDialog::CBenchDialog() : m_pDlg(std::make_unique<CCertPurgeDlg>())
{
    m_pDlg->SetPrompts(&m_prompts);
    if (!m_pDlg->Create())
        throw std::runtime_error("the main dialog could not be created");
}

CBenchDialog::~CBenchDialog() = default;

bool CBenchDialog::PumpUntil(const std::function<bool()>& done, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        // Short, so the measured latency is not the pumping's own.
        QThread::usleep(500);
    }
    return true;
}

void CBenchDialog::Pump(int milliseconds)
{
    PumpUntil([] { return false; }, milliseconds);
}
