#pragma once

#include <QString>

namespace tw::Redactor {

/// Masks what must never reach a log or a diagnostic report: Google access and refresh
/// tokens, bearer credentials, token and secret parameters (form, query and JSON forms),
/// e-mail addresses, and the user's name in home-folder paths (/Users/<name>, /home/<name>,
/// /root). Stateless and thread-safe; never fails.
QString redact(const QString& text);

} // namespace tw::Redactor
