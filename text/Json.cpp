#include "Escape.h"

// Their UTF-8 forms (C2 80 to C2 9F) and 7F occur nowhere else in a document of ASCII structure.
QByteArray JsonText(const QJsonDocument &document)
{
    const QByteArray json = document.toJson(QJsonDocument::Indented);
    QByteArray escaped;
    escaped.reserve(json.size());
    for (qsizetype i = 0; i < json.size(); ++i) {
        const auto byte = quint8(json[i]);
        if (byte == 0x7F) {
            escaped += "\\u007f";
        } else if (byte == 0xC2 && i + 1 < json.size() && quint8(json[i + 1]) <= 0x9F) {
            escaped += "\\u00" + QByteArray::number(quint8(json[++i]), 16);
        } else {
            escaped += char(byte);
        }
    }
    return escaped;
}
