#pragma once

#include <QString>

// Buttons read '&' as a mnemonic marker; texts that come from data (folder names) are shown
// exactly as they are.
inline QString literalButtonText(QString text) {
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}
