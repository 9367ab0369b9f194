#include "window/qt/timetext.h"

#include <QTime>

namespace rilvano {

QString LongTimeFormatWithoutZone(const QLocale& locale) {
  const QString format = locale.timeFormat(QLocale::LongFormat);
  QString out;
  bool quoted = false;
  for (qsizetype i = 0; i < format.size(); ++i) {
    const QChar c = format.at(i);
    if (c == QLatin1Char('\'')) quoted = !quoted;
    if (!quoted && c == QLatin1Char('t')) {
      // Drop the zone field and the blank that separated it.
      while (i + 1 < format.size() && format.at(i + 1) == QLatin1Char('t')) ++i;
      if (out.endsWith(QLatin1Char(' '))) {
        out.chop(1);
      } else if (i + 1 < format.size() && format.at(i + 1) == QLatin1Char(' ')) {
        ++i;
      }
      continue;
    }
    out += c;
  }
  return out.trimmed();
}

QString GeneralDateText(const QDateTime& moment, const QLocale& locale) {
  const QString date = locale.toString(moment.date(), QLocale::ShortFormat);
  const QTime time = moment.time();
  if (time.hour() == 0 && time.minute() == 0 && time.second() == 0) return date;
  return date + QLatin1Char(' ') + locale.toString(time, LongTimeFormatWithoutZone(locale));
}

}  // namespace rilvano
