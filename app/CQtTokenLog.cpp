#include "app/CQtTokenLog.h"

#include <QLoggingCategory>
#include <QString>

namespace {

Q_LOGGING_CATEGORY(lcToken, "certpurge.token", QtWarningMsg)
Q_LOGGING_CATEGORY(lcMonitor, "certpurge.monitor", QtWarningMsg)
Q_LOGGING_CATEGORY(lcList, "certpurge.list", QtWarningMsg)
Q_LOGGING_CATEGORY(lcRemoval, "certpurge.removal", QtWarningMsg)

using CategoryFunction = const QLoggingCategory& (*)();

CategoryFunction Category(ITokenLog::ETopic topic)
{
    switch (topic) {
    case ITokenLog::ETopic::Token: return lcToken;
    case ITokenLog::ETopic::Monitor: return lcMonitor;
    case ITokenLog::ETopic::List: return lcList;
    case ITokenLog::ETopic::Removal: return lcRemoval;
    }
    return lcToken;
}

}  // namespace

bool CQtTokenLog::IsDebugEnabled(ETopic topic) const
{
    return Category(topic)().isDebugEnabled();
}

void CQtTokenLog::Debug(ETopic topic, const std::string& text)
{
    CategoryFunction category = Category(topic);
    qCDebug(category).noquote() << QString::fromStdString(text);
}

void CQtTokenLog::Warning(ETopic topic, const std::string& text)
{
    CategoryFunction category = Category(topic);
    qCWarning(category).noquote() << QString::fromStdString(text);
}

void CQtTokenLog::EnableDebug()
{
    QLoggingCategory::setFilterRules(QStringLiteral("certpurge.*.debug=true"));
}
