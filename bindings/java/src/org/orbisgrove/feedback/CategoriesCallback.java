package org.orbisgrove.feedback;

import java.util.List;

/** Receives the outcome of {@link FeedbackKit#getReportCategories}. */
@FunctionalInterface
public interface CategoriesCallback {
  /**
   * Called exactly once: with the list (possibly empty) and no error, with no list and an error, or with neither
   * (the service answered without a list).
   *
   * @param categories the records in the service's order, unmodifiable; {@code null} when there is none
   * @param error why there is no list; {@code null} on success
   */
  void onResult(List<ReportCategories> categories, FeedbackError error);
}
