#include "StorageCore/Security/Redactor.h"

#include <QList>
#include <QRegularExpression>

namespace tw::Redactor {

namespace {

struct Rule {
    QRegularExpression pattern;
    QString replacement;
};

const QList<Rule>& rules() {
    // Applied in order: the token rules first, so a token inside a parameter is masked by
    // them and the parameter rule then replaces the whole value, placeholder included.
    static const QList<Rule> list = [] {
        QList<Rule> r;
        auto add = [&r](const char* pattern, const char* replacement) {
            QRegularExpression expression(QString::fromLatin1(pattern));
            expression.optimize();
            r.append(Rule{expression, QString::fromLatin1(replacement)});
        };
        // Google OAuth access tokens.
        add(R"re(ya29\.[A-Za-z0-9_\-\.]+)re", "<access-token>");
        // Google OAuth refresh tokens.
        add(R"re(1//[A-Za-z0-9_\-]+)re", "<refresh-token>");
        // Bearer credentials: the whole token alphabet (RFC 6750 b64token).
        add(R"re((?i)bearer\s+[A-Za-z0-9\-._~+/=]+)re", "Bearer <redacted>");
        // Token and secret parameters: form and query (name=value) and JSON ("name": "value").
        add(R"re((?i)("?\b(?:access_token|refresh_token|id_token|client_secret|code|code_verifier)"?\s*[:=]\s*"?)[^"&\s,}]+)re",
            "\\1<redacted>");
        // E-mail addresses.
        add(R"re([A-Za-z0-9._%+\-]+@[A-Za-z0-9.\-]+\.[A-Za-z]{2,})re", "<email>");
        // Home folders: the user's name below the users' folder.
        add(R"re(/Users/[^/\s]+)re", "/Users/<user>");
        add(R"re(/home/[^/\s]+)re", "/home/<user>");
        // The superuser's home, as a whole path component at the start of a path.
        add(R"re((?<![^\s"'=:(\[,])/root(?=/|$|[\s"',)\]]))re", "/<home>");
        return r;
    }();
    return list;
}

} // namespace

QString redact(const QString& text) {
    QString result = text;
    for (const Rule& rule : rules())
        result.replace(rule.pattern, rule.replacement);
    return result;
}

} // namespace tw::Redactor
