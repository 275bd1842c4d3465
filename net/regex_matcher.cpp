#include "net/regex_matcher.h"

namespace net {

bool RegexMatcher::execute(const QString &pattern, const QString &subject, bool caseSensitive, bool multiline,
                           bool global, bool quoteMarker)
{
    QString source = pattern;
    if (quoteMarker)
        source.replace(QStringLiteral("#引号"), QStringLiteral("\""));
    QRegularExpression::PatternOptions options = QRegularExpression::NoPatternOption;
    if (!caseSensitive)
        options |= QRegularExpression::CaseInsensitiveOption;
    if (multiline)
        options |= QRegularExpression::MultilineOption;
    // Line ends are LF, CR LF and a lone CR, as in the system's object: ^ and
    // $ meet them in multiline mode, and '.' matches none of them.
    m_regex = QRegularExpression(QStringLiteral("(*ANYCRLF)") + source, options);
    m_pattern = source;
    m_hasRegex = true;
    m_global = global;
    m_subject = subject;
    m_matches.clear();
    if (!m_regex.isValid())
        return false;
    if (global) {
        QRegularExpressionMatchIterator it = m_regex.globalMatch(subject);
        while (it.hasNext())
            m_matches.append(it.next());
    } else if (QRegularExpressionMatch first = m_regex.match(subject); first.hasMatch()) {
        m_matches.append(first);
    }
    return true;
}

QString RegexMatcher::pattern() const
{
    return m_hasRegex ? m_pattern : QString();
}

QString RegexMatcher::replace(const QString &replacement) const
{
    if (!m_hasRegex || !m_regex.isValid())
        return m_subject;
    QString out;
    qsizetype copied = 0;
    for (const QRegularExpressionMatch &m : m_matches) {
        out += QStringView(m_subject).mid(copied, m.capturedStart() - copied);
        for (qsizetype i = 0; i < replacement.size(); ++i) {
            const QChar c = replacement[i];
            const QChar next = i + 1 < replacement.size() ? replacement[i + 1] : QChar();
            if (c != u'$' || next.isNull()) {
                out += c;
            } else if (next == u'$') {
                out += u'$';
                ++i;
            } else if (next == u'&') {
                out += m.captured(0);
                ++i;
            } else if (next == u'`') {
                out += QStringView(m_subject).left(m.capturedStart());
                ++i;
            } else if (next == u'\'') {
                out += QStringView(m_subject).mid(m.capturedEnd());
                ++i;
            } else if (next.isDigit()) {
                // Two digits when that group exists, else one.
                int group = next.digitValue();
                qsizetype used = 1;
                if (i + 2 < replacement.size() && replacement[i + 2].isDigit()) {
                    const int two = group * 10 + replacement[i + 2].digitValue();
                    if (two >= 1 && two <= m_regex.captureCount()) {
                        group = two;
                        used = 2;
                    }
                }
                if (group >= 1 && group <= m_regex.captureCount()) {
                    out += m.captured(group);
                    i += used;
                } else {
                    out += c;
                }
            } else {
                out += c;
            }
        }
        copied = m.capturedEnd();
    }
    out += QStringView(m_subject).mid(copied);
    return out;
}

int RegexMatcher::matchCount() const
{
    return int(m_matches.size());
}

const QRegularExpressionMatch *RegexMatcher::matchAt(int match) const
{
    if (match < 1 || match > m_matches.size())
        return nullptr;
    return &m_matches[match - 1];
}

int RegexMatcher::positionOf(const QString &text, int match) const
{
    const qsizetype found = m_subject.indexOf(text, matchAt(match)->capturedStart());
    return found < 0 ? -2 : int(found);
}

QString RegexMatcher::matchValue(int match, int *position) const
{
    const QRegularExpressionMatch *m = matchAt(match);
    if (!m)
        return {};
    const QString value = m->captured(0);
    if (position)
        *position = positionOf(value, match);
    return value;
}

QString RegexMatcher::submatchValue(int match, int group, int *position) const
{
    const QRegularExpressionMatch *m = matchAt(match);
    if (!m || group < 1 || group > m_regex.captureCount())
        return {};
    const QString value = m->captured(group);
    if (position)
        *position = positionOf(value, match);
    return value;
}

int RegexMatcher::submatchCount(int match) const
{
    return matchAt(match) ? m_regex.captureCount() : 0;
}

} // namespace net
