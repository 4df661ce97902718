// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "shassignments.h"

namespace ShAssignments
{
namespace
{
bool isNameStart(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool isNameChar(char c)
{
    return isNameStart(c) || (c >= '0' && c <= '9');
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}
}

bool read(const QByteArray &text, QList<Assignment> *assignments)
{
    if (text.contains('\0')) {
        return false; // dash drops NUL bytes before it reads the text
    }
    const int n = text.size();
    int i = 0;
    bool commandEmpty = true;
    // A backslash-newline pair outside single quotes is removed before anything else is read.
    auto skipContinuations = [&] {
        while (i + 1 < n && text.at(i) == '\\' && text.at(i + 1) == '\n') {
            i += 2;
        }
    };
    while (true) {
        skipContinuations();
        if (i >= n) {
            return true;
        }
        const char c = text.at(i);
        if (isBlank(c)) {
            ++i;
            continue;
        }
        if (c == '#') {
            while (i < n && text.at(i) != '\n') {
                ++i;
            }
            continue;
        }
        if (c == '\n') {
            commandEmpty = true;
            ++i;
            continue;
        }
        if (c == ';') {
            if (commandEmpty) {
                return false; // a syntax error
            }
            commandEmpty = true;
            ++i;
            continue;
        }
        // A word: up to an unquoted blank, line break or ';'.
        QByteArray value;
        int nameEnd = -1; // where the first unquoted '=' is, while every byte before it is unquoted
        bool namePossible = true;
        while (true) {
            skipContinuations();
            if (i >= n) {
                break;
            }
            const char d = text.at(i);
            if (isBlank(d) || d == '\n' || d == ';') {
                break;
            }
            if (d == '|' || d == '&' || d == '(' || d == ')' || d == '<' || d == '>' || d == '$' || d == '`') {
                return false;
            }
            if (d == '~') {
                return false; // a tilde expansion, after the '=' or a ':' of a value as well
            }
            if (d == '\\') {
                if (i + 1 >= n) {
                    return false;
                }
                value += text.at(i + 1);
                i += 2;
                namePossible = namePossible && nameEnd >= 0;
                continue;
            }
            if (d == '\'') {
                const int close = text.indexOf('\'', i + 1);
                if (close < 0) {
                    return false;
                }
                value += text.mid(i + 1, close - i - 1);
                i = close + 1;
                namePossible = namePossible && nameEnd >= 0;
                continue;
            }
            if (d == '"') {
                ++i;
                bool closed = false;
                while (i < n) {
                    const char e = text.at(i);
                    if (e == '"') {
                        closed = true;
                        ++i;
                        break;
                    }
                    if (e == '$' || e == '`') {
                        return false;
                    }
                    if (e == '\\' && i + 1 < n) {
                        const char f = text.at(i + 1);
                        if (f == '\n') {
                            i += 2;
                            continue;
                        }
                        if (f == '$' || f == '`' || f == '"' || f == '\\') {
                            value += f;
                            i += 2;
                            continue;
                        }
                    }
                    value += e;
                    ++i;
                }
                if (!closed) {
                    return false;
                }
                namePossible = namePossible && nameEnd >= 0;
                continue;
            }
            if (d == '=' && nameEnd < 0 && namePossible) {
                nameEnd = value.size();
            } else if (nameEnd < 0 && !(value.isEmpty() ? isNameStart(d) : isNameChar(d))) {
                namePossible = false;
            }
            value += d;
            ++i;
        }
        if (!namePossible || nameEnd <= 0) {
            return false; // a command word
        }
        assignments->append({value.left(nameEnd), value.mid(nameEnd + 1)});
        commandEmpty = false;
    }
}
}
