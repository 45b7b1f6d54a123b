#pragma once
// Small text helpers shared by the editors: UTF-16 <-> QString, string-table texts, the C
// runtime's lenient number readers, and the layer tree's label of a tool kind.
#include <QString>

#include <cstdint>

#include "platform/text.h"
#include "ui/DialogBuilder.h"

namespace editors {

// The OK and Cancel buttons' control ids.
using ui::kIdCancel;
using ui::kIdOk;

inline QString Q(WStringView s) { return QString::fromUtf16(s.data(), qsizetype(s.size())); }
inline WString W(const QString& s) { return s.toStdU16String(); }
// The text of a string id in the running language.
QString Str(std::uint32_t id);

// Reads the leading number of a text as the C runtime's wide atof does: leading blanks skipped,
// reading stops at the first character that does not fit, no number at all reads as 0.
double WToF(WStringView text);
// The same for an integer (atoi): no number reads as 0; out-of-range values saturate.
int WToI(WStringView text);
// True when the whole text (blanks around it allowed) is one finite decimal number.
bool IsNumber(WStringView text, double* value = nullptr);

// The layer tree's label of a measurement kind; empty for kinds that have none.
WString KindLabel(int kind);

}  // namespace editors
