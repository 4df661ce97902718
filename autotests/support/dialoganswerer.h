// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTextEdit>
#include <QTimer>

// Answers the modal dialogs a test provokes, so that no test waits for a person, and keeps what
// each one showed for the test to check. Every 20 ms it looks at the active modal window.
//
// EveryDialog: any modal QDialog (message boxes and the module's own dialogs alike) is rejected.
// MessageBoxesOnly: a QMessageBox gets the chosen button pressed (rejected when it has no such
// button), a KMessageBox dialog (a QDialog with a button box) its first button; any other modal
// dialog, such as the dialog under test, is left alone.
class DialogAnswerer : public QObject
{
public:
    enum Scope { EveryDialog, MessageBoxesOnly };

    struct Seen {
        QString className;
        QString title; // window title
        QString text; // a QMessageBox's text; else the label texts, one a line
        QStringList labels; // the non-empty label texts
        QStringList texts; // the labels, then group box titles, then text edit contents
        QPointer<QWidget> parent;
    };

    explicit DialogAnswerer(Scope scope, QMessageBox::StandardButton answer = QMessageBox::Ok)
        : m_scope(scope)
        , m_answer(answer)
    {
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            check();
        });
        m_timer.start();
    }

    QList<Seen> seen;

    // The text of each dialog seen, in order.
    QStringList shownTexts() const
    {
        QStringList result;
        for (const Seen &entry : seen) {
            result.append(entry.text);
        }
        return result;
    }

    // Whether a dialog seen had a label with exactly this text.
    bool sawLabel(const QString &text) const
    {
        for (const Seen &entry : seen) {
            if (entry.labels.contains(text)) {
                return true;
            }
        }
        return false;
    }

    // One line per dialog seen, for failure messages.
    QString describe() const
    {
        QStringList parts;
        for (const Seen &entry : seen) {
            parts.append(entry.className + QStringLiteral(": ") + entry.texts.join(QStringLiteral(" | ")));
        }
        return parts.join(QLatin1Char('\n'));
    }

private:
    void check()
    {
        QWidget *active = QApplication::activeModalWidget();
        if (!active || !active->isVisible()) {
            return;
        }
        auto *dialog = qobject_cast<QDialog *>(active);
        if (!dialog) {
            return;
        }
        auto *messageBox = qobject_cast<QMessageBox *>(dialog);
        auto *buttons = dialog->findChild<QDialogButtonBox *>();
        const bool buttonBoxDialog = !messageBox && buttons && !buttons->buttons().isEmpty();
        if (m_scope == MessageBoxesOnly && !messageBox && !buttonBoxDialog) {
            return;
        }

        seen.append(record(dialog, messageBox));

        if (m_scope == EveryDialog) {
            dialog->reject();
        } else if (messageBox) {
            if (QAbstractButton *button = messageBox->button(m_answer)) {
                button->click();
            } else {
                messageBox->reject();
            }
        } else {
            buttons->buttons().constFirst()->click();
        }
    }

    static Seen record(QDialog *dialog, const QMessageBox *messageBox)
    {
        Seen entry;
        entry.className = QString::fromLatin1(dialog->metaObject()->className());
        entry.title = dialog->windowTitle();
        entry.parent = dialog->parentWidget();
        for (const QLabel *label : dialog->findChildren<QLabel *>()) {
            if (!label->text().isEmpty()) {
                entry.labels.append(label->text());
            }
        }
        entry.text = messageBox ? messageBox->text() : entry.labels.join(QLatin1Char('\n'));
        entry.texts = entry.labels;
        for (const QGroupBox *box : dialog->findChildren<QGroupBox *>()) {
            entry.texts.append(box->title());
        }
        for (const QTextEdit *edit : dialog->findChildren<QTextEdit *>()) {
            entry.texts.append(edit->toPlainText());
        }
        return entry;
    }

    Scope m_scope;
    QMessageBox::StandardButton m_answer;
    QTimer m_timer;
};
