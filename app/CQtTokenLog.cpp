#include "app/CQtTokenLog.h"

#include <QLoggingCategory>
#include <QString>

namespace {

using ETopic = ITokenLog::ETopic;

Q_LOGGING_CATEGORY(lcToken, ITokenLog::CategoryName(ETopic::Token), QtWarningMsg)
Q_LOGGING_CATEGORY(lcMonitor, ITokenLog::CategoryName(ETopic::Monitor), QtWarningMsg)
Q_LOGGING_CATEGORY(lcList, ITokenLog::CategoryName(ETopic::List), QtWarningMsg)
Q_LOGGING_CATEGORY(lcRemoval, ITokenLog::CategoryName(ETopic::Removal), QtWarningMsg)

using CategoryFunction = const QLoggingCategory& (*)();

CategoryFunction Category(ETopic topic)
{
    switch (topic) {
    case ETopic::Token: return lcToken;
    case ETopic::Monitor: return lcMonitor;
    case ETopic::List: return lcList;
    case ETopic::Removal: return lcRemoval;
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
