#pragma once

#include <QList>
#include <QRegularExpression>
#include <QRegularExpressionMatch>
#include <QString>

namespace net {

// One pattern run over one subject text with the habits of the VBScript
// regular-expression object: case-insensitive unless asked, ^ and $ at line
// breaks (LF, CR LF or CR), every match found, '.' not matching a line break. Matches and groups
// are numbered from 1. Nothing throws: a bad number or a failed pattern gives
// an empty text or 0.
class RegexMatcher final {
public:
    // Runs the pattern over the subject and keeps the matches. With
    // quoteMarker, every "#引号" in the pattern stands for a double quote.
    // False only when the pattern is invalid; no match is still true.
    bool execute(const QString &pattern, const QString &subject, bool caseSensitive = false,
                 bool multiline = true, bool global = true, bool quoteMarker = false);

    // The pattern of the last execute; empty before the first.
    QString pattern() const;
    // The last subject with every match (or the first, without global)
    // replaced. The replacement may use $1..$99, $&, $`, $' and $$.
    QString replace(const QString &replacement) const;
    int matchCount() const;
    // `position`, when given, receives where the text was found in the
    // subject from the match's start on (0-based; -2 when not found).
    QString matchValue(int match, int *position = nullptr) const;
    QString submatchValue(int match, int group, int *position = nullptr) const;
    int submatchCount(int match) const;

private:
    const QRegularExpressionMatch *matchAt(int match) const;
    int positionOf(const QString &text, int match) const;

    QRegularExpression m_regex;
    QString m_pattern; // as given, after the quote markers
    bool m_hasRegex = false;
    bool m_global = true;
    QList<QRegularExpressionMatch> m_matches;
    QString m_subject;
};

} // namespace net
