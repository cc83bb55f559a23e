// How the system's byte texts meet the window. Texts are UTF-8 by convention;
// bytes that are not UTF-8 (a file written in an older 8-bit code page) show one
// character per byte, so they stay legible, and go back byte for byte as long
// as nobody edits them.
#pragma once

#include <QString>

#include <string>

QString FromBytes(const std::string& text);

// The UTF-8 of a text, as typed or chosen by the user.
std::string ToBytes(const QString& text);

// The bytes behind a text that was shown from `original`: the original bytes
// while the text still reads as FromBytes made it, its UTF-8 once edited.
std::string BytesBehind(const QString& shown, const std::string& original);
