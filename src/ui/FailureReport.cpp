#include "ui/FailureReport.h"

#include "core/Errors.h"

#include <QApplication>
#include <QMessageBox>

#include <new>

namespace failurereport {

void showFailureBox(const QString &message)
{
    if (QCoreApplication::closingDown())
        return;
    QMessageBox box(QMessageBox::Critical, QString(), errors::failureText(message), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::Ok);
    // A message quotes paths and system texts: markup in them is shown, never interpreted.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void guarded(const FailureReport &report, const std::function<void()> &body)
{
    QString message;
    try {
        body();
        return;
    } catch (const ETavimoError &e) {
        message = e.message();
    } catch (const std::bad_alloc &) {
        message = QStringLiteral("メモリが不足しています");
    } catch (const std::exception &e) {
        message = QString::fromLocal8Bit(e.what());
    }
    // Reported outside the catch block, so that the nested event loop of the box does not run
    // while an exception is being handled.
    if (report)
        report(message);
}

} // namespace failurereport
