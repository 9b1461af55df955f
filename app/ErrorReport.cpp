#include "ErrorReport.h"

#include "ApplicationTitle.h"
#include "MessageBox.h"

#include <run/ReportText.h>

namespace {

QString messageOf(const std::exception &failure)
{
    // The run's and the database's failures give their message as UTF-8 here too.
    return QString::fromUtf8(failure.what());
}

// The message of the innermost failure nested in `failure`, or its own when
// nothing is nested in it.
QString innermostMessage(const std::exception &failure)
{
    const auto *nested = dynamic_cast<const std::nested_exception *>(&failure);
    // rethrow_nested() on an empty holder would terminate the program.
    if (nested && nested->nested_ptr()) {
        try {
            nested->rethrow_nested();
        } catch (const std::exception &inner) {
            return innermostMessage(inner);
        } catch (...) {
        }
    }
    return messageOf(failure);
}

} // namespace

QString ErrorReport::text(const std::exception &failure)
{
    const QString inner = innermostMessage(failure);
    return run::reportText(inner.isEmpty() ? messageOf(failure) : inner);
}

void ErrorReport::show(const std::exception &failure)
{
    showMessageBox(text(failure), applicationTitle(), QMessageBox::Critical);
}

void ErrorReport::showUnknown()
{
    showMessageBox(run::reportText(QStringLiteral("Unknown exception")), applicationTitle(), QMessageBox::Critical);
}
