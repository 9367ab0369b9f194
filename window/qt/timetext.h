// Date and time texts of the locale, with the clock reading passed in so
// that any moment (midnight included) can be tried.
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace rilvano {

// The locale's long time format without its time-zone field.
QString LongTimeFormatWithoutZone(const QLocale& locale);

// General date: short date, a blank, long time; the date alone when the time
// of day is zero.
QString GeneralDateText(const QDateTime& moment, const QLocale& locale);

}  // namespace rilvano
