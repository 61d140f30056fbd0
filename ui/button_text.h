#pragma once

#include <QString>
#include <QTextDocument>

// Buttons read '&' as a mnemonic marker; texts that come from data (folder names) are shown
// exactly as they are.
inline QString literalButtonText(QString text) {
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// A folder name may hold line feeds and other line breaks. A one-line control shows each as a
// space; what is stored keeps them.
inline QString oneLine(QString text) {
    for (QChar& c : text) {
        if (c == u'\n' || c == u'\r' || c == u'\t' || c == u'\v' || c == u'\f' ||
            c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return text;
}

// Tooltips render anything that looks like markup as rich text; a folder named "<b>x</b>" is
// shown as it is named.
inline QString plainToolTip(const QString& text) {
    if (!Qt::mightBeRichText(text))
        return text;
    return QStringLiteral("<p style='white-space:pre-wrap'>") + text.toHtmlEscaped() +
           QStringLiteral("</p>");
}
