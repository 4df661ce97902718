#pragma once
// Answers every modal dialog that comes up (message boxes, the module's own dialogs) and keeps
// what it showed, so that no test waits for a person.

#include <QApplication>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QTextEdit>
#include <QTimer>

class ModalAnswerer : public QObject
{
public:
    struct Seen {
        QString className;
        QStringList texts; // label texts, group box titles and text edit contents
        QPointer<QWidget> parent;
    };

    ModalAnswerer()
    {
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!dialog) {
                return;
            }
            Seen entry{QString::fromLatin1(dialog->metaObject()->className()), {}, dialog->parentWidget()};
            for (const QLabel *label : dialog->findChildren<QLabel *>()) {
                if (!label->text().isEmpty()) {
                    entry.texts.append(label->text());
                }
            }
            for (const QGroupBox *box : dialog->findChildren<QGroupBox *>()) {
                entry.texts.append(box->title());
            }
            for (const QTextEdit *edit : dialog->findChildren<QTextEdit *>()) {
                entry.texts.append(edit->toPlainText());
            }
            seen.append(entry);
            dialog->reject();
        });
        m_timer.start();
    }

    QString describe() const
    {
        QStringList parts;
        for (const Seen &entry : seen) {
            parts.append(entry.className + QStringLiteral(": ") + entry.texts.join(QStringLiteral(" | ")));
        }
        return parts.join(QLatin1Char('\n'));
    }

    QList<Seen> seen;

private:
    QTimer m_timer;
};
