package org.orbisgrove.feedback;

import java.math.BigInteger;
import java.text.NumberFormat;
import java.time.Instant;
import java.time.ZoneId;
import java.time.format.DateTimeFormatter;
import java.time.format.FormatStyle;
import java.time.temporal.ChronoUnit;
import java.util.Locale;
import java.util.Objects;
import java.util.function.DoubleFunction;
import java.util.function.LongFunction;

/**
 * The app's own locale-aware texts for the kit (the rate-limit wording, reason phrases, the category cache's age in
 * days), installed once with {@link #install()} before the first request. A {@code null} component leaves that text
 * to the kit's own formatter. Each function may be called on any thread, several at once, and should not throw:
 * what one throws costs one console line, and the kit's own text is used for that call.
 *
 * @param reasonPhrase the reason phrase of a status code, lower case ("not found"); {@code null} for the kit's own
 * @param longDateTime a moment (seconds since 1970) in long date and long time style; {@code null} for the kit's own
 * @param fullDuration seconds in full units style ("1 minute, 30 seconds"), or {@code null} when it cannot write one
 *     (the kit then writes the number and " seconds"); {@code null} for the kit's own
 * @param decimal an unsigned 64-bit value (as a long's bits) in decimal number style; {@code null} for the kit's own
 * @param wholeDaysBetween whole days between two moments by the calendar; {@code null} for the kit's own
 */
public record TextFormatter(LongFunction<String> reasonPhrase, DoubleFunction<String> longDateTime,
    DoubleFunction<String> fullDuration, LongFunction<String> decimal, DaysBetween wholeDaysBetween) {
  /** Whole days from one moment to another (7 days 23 hours give 7; 30 hours back give -1). */
  @FunctionalInterface
  public interface DaysBetween {
    /**
     * @param fromSecondsSince1970 the first moment
     * @param toSecondsSince1970 the second moment
     * @return the whole days between them; {@code null} when they cannot be counted
     */
    Long between(double fromSecondsSince1970, double toSecondsSince1970);
  }

  /**
   * Texts from java.time and java.text for {@code locale} and {@code zone}. java.text has no duration format, so
   * {@code fullDuration} always leaves the kit to write the number of seconds (on Android, a function over
   * android.icu.text.MeasureFormat can write it); reason phrases stay the kit's own.
   *
   * @param locale the texts' locale; not {@code null}
   * @param zone the time zone of dates and of the calendar; not {@code null}
   * @return the formatter; never {@code null}
   */
  public static TextFormatter of(Locale locale, ZoneId zone) {
    Objects.requireNonNull(locale, "locale");
    Objects.requireNonNull(zone, "zone");
    DateTimeFormatter dates =
        DateTimeFormatter.ofLocalizedDateTime(FormatStyle.LONG, FormatStyle.LONG).withLocale(locale).withZone(zone);
    return new TextFormatter(null, seconds -> dates.format(instant(seconds)), seconds -> null,
        value -> NumberFormat.getIntegerInstance(locale).format(new BigInteger(Long.toUnsignedString(value))),
        (from, to) -> ChronoUnit.DAYS.between(instant(from).atZone(zone), instant(to).atZone(zone)));
  }

  private static Instant instant(double secondsSince1970) {
    return Instant.ofEpochMilli(Math.round(secondsSince1970 * 1000));
  }

  /**
   * Makes this the formatter of every later text of the kit.
   *
   * @return {@code null} on success; the error saying why not (too late: the kit has formatted a text already)
   */
  public FeedbackError install() {
    Native.load();
    return Native.installFormatter(reasonPhrase, longDateTime, fullDuration, decimal, wholeDaysBetween);
  }
}
