#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>

// Answers the message boxes a test provokes, so that no test waits for a person: every few
// milliseconds it looks at the active modal window; a QMessageBox gets the chosen button
// pressed, a KMessageBox dialog (a QDialog with a button box) its first button. The title and
// text of each box are kept for the test to check. Other modal dialogs (the dialog under test)
// are left alone.
class BoxAnswerer : public QObject
{
public:
    struct Box {
        QString title;
        QString text;
    };

    explicit BoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok)
        : m_answer(answer)
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            check();
        });
        m_timer.start();
    }

    QList<Box> boxes;

    QStringList texts() const
    {
        QStringList result;
        for (const Box &box : boxes) {
            result << box.text;
        }
        return result;
    }

private:
    void check()
    {
        QWidget *active = QApplication::activeModalWidget();
        if (!active || !active->isVisible()) {
            return;
        }
        if (auto *box = qobject_cast<QMessageBox *>(active)) {
            boxes << Box{box->windowTitle(), box->text()};
            if (QAbstractButton *button = box->button(m_answer)) {
                button->click();
            } else {
                box->reject();
            }
            return;
        }
        auto *dialog = qobject_cast<QDialog *>(active);
        auto *buttons = active->findChild<QDialogButtonBox *>();
        if (!dialog || !buttons || buttons->buttons().isEmpty()) {
            return;
        }
        QStringList labelTexts;
        const auto labels = active->findChildren<QLabel *>();
        for (const QLabel *label : labels) {
            if (!label->text().isEmpty()) {
                labelTexts << label->text();
            }
        }
        boxes << Box{dialog->windowTitle(), labelTexts.join(QLatin1Char('\n'))};
        buttons->buttons().constFirst()->click();
    }

    QMessageBox::StandardButton m_answer;
    QTimer m_timer;
};
