package org.orbisgrove.feedback;

import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.OptionalLong;

/**
 * An error value the kit delivered: a domain, a code meaningful within it, and user information by key. Immutable;
 * built only by the kit.
 */
public final class FeedbackError {
  /** The kit's own domain. */
  public static final String FEEDBACK_ERROR_DOMAIN = "OrbisgroveFeedbackErrorDomain";
  /** The URL-loading domain of transport failures (cancelled -999, timed out -1001, ...). */
  public static final String URL_ERROR_DOMAIN = "NSURLErrorDomain";
  /** User-information key of why it failed, in words. */
  public static final String FAILURE_REASON_KEY = "NSLocalizedFailureReason";
  /** User-information key of what the user may do about it, in words. */
  public static final String RECOVERY_SUGGESTION_KEY = "NSLocalizedRecoverySuggestion";
  /** User-information key of the lower-level error that caused this one. */
  public static final String UNDERLYING_ERROR_KEY = "NSUnderlyingError";
  /** The cancelled code of the URL-loading domain. */
  public static final long CANCELLED = -999;

  private final String domain;
  private final long code;
  private final Map<String, Object> userInfo;
  private final Long httpStatus;
  private final SubmissionFailure submissionFailure;

  FeedbackError(String domain, long code, String[] keys, Object[] values, long httpStatus, boolean hasHttpStatus,
      String submissionFailure) {
    this.domain = domain;
    this.code = code;
    Map<String, Object> info = new LinkedHashMap<>();
    for (int i = 0; i < keys.length; i++) {
      info.put(keys[i], values[i]);
    }
    this.userInfo = Collections.unmodifiableMap(info);
    this.httpStatus = hasHttpStatus ? httpStatus : null;
    this.submissionFailure = SubmissionFailure.fromName(submissionFailure);
  }

  /** @return which part of the system failed; never {@code null} */
  public String domain() {
    return domain;
  }

  /** @return what failed, within {@link #domain()} */
  public long code() {
    return code;
  }

  /**
   * @return everything else known, by key: values are {@link String}, {@link Long}, {@link Double} or a nested
   *     {@link FeedbackError}; unmodifiable, never {@code null}
   */
  public Map<String, Object> userInfo() {
    return userInfo;
  }

  /** @return the text under {@link #FAILURE_REASON_KEY}; {@code null} when there is none */
  public String failureReason() {
    return userInfo.get(FAILURE_REASON_KEY) instanceof String text ? text : null;
  }

  /** @return the text under {@link #RECOVERY_SUGGESTION_KEY}; {@code null} when there is none */
  public String recoverySuggestion() {
    return userInfo.get(RECOVERY_SUGGESTION_KEY) instanceof String text ? text : null;
  }

  /** @return the error under {@link #UNDERLYING_ERROR_KEY}; {@code null} when there is none */
  public FeedbackError underlyingError() {
    return userInfo.get(UNDERLYING_ERROR_KEY) instanceof FeedbackError error ? error : null;
  }

  /** @return the status of the HTTP reply the error was built from; empty when there was no reply */
  public OptionalLong httpStatus() {
    return httpStatus == null ? OptionalLong.empty() : OptionalLong.of(httpStatus);
  }

  /** @return what a submission's failure says about its report; never {@code null} */
  public SubmissionFailure submissionFailure() {
    return submissionFailure;
  }

  /** @return one line: domain, code and the failure reason when there is one; never {@code null} */
  @Override
  public String toString() {
    String reason = failureReason();
    return domain + " " + code + (reason == null ? "" : ": " + reason);
  }
}
