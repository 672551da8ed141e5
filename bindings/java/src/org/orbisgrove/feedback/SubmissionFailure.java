package org.orbisgrove.feedback;

/** What a failed submission's error says about the report: whether sending it again can make a second copy. */
public enum SubmissionFailure {
  /** Nothing of the request left the device: sending it again cannot make a second copy. */
  NEVER_SENT,
  /** The service answered 429 and did not store it: send it again after its reset time. */
  RATE_LIMITED,
  /** The service answered with its error envelope and a 5xx status: send it again later. */
  SERVICE_UNAVAILABLE,
  /** The service refused it: sending it again gets the same answer. */
  REFUSED_BY_SERVICE,
  /** It may have reached the service but no verdict came back: only the user should decide to send it again. */
  NO_VERDICT;

  static SubmissionFailure fromName(String name) {
    switch (name) {
      case "neverSent":
        return NEVER_SENT;
      case "rateLimited":
        return RATE_LIMITED;
      case "serviceUnavailable":
        return SERVICE_UNAVAILABLE;
      case "refusedByService":
        return REFUSED_BY_SERVICE;
      default:
        return NO_VERDICT;
    }
  }
}
