package org.orbisgrove.feedback;

import java.lang.ref.Reference;
import java.util.Objects;

/**
 * One report: where on the map, which category and sub-category, what the user wrote, and optionally which module
 * of the app raises it. Nothing is checked or transformed. The two categories are the very records passed in: a
 * change to one of them is seen by this record. No lock: the record must not change on another thread while a
 * submission reads it.
 */
public final class SaveUserDataOptions {
  final long handle;
  private ReportCategories parentCategory;
  private ReportCategories childCategory;

  /**
   * @param coordinate where the problem is; not {@code null}
   * @param parentCategory the top-level category; {@code null} for none
   * @param childCategory the sub-category; {@code null} for none
   * @param description the user's text; not {@code null}
   * @param moduleId which module of the app raises it; {@code null} for none
   */
  public SaveUserDataOptions(Coordinate coordinate, ReportCategories parentCategory, ReportCategories childCategory,
      String description, String moduleId) {
    Objects.requireNonNull(coordinate, "coordinate");
    Objects.requireNonNull(description, "description");
    Native.load();
    long created = Native.newOptions(coordinate.latitude(), coordinate.longitude(), handleOf(parentCategory),
        handleOf(childCategory), description, moduleId);
    this.handle = created;
    this.parentCategory = parentCategory;
    this.childCategory = childCategory;
    Native.CLEANER.register(this, () -> Native.releaseOptions(created));
  }

  /** As the full constructor, with no module named. */
  public SaveUserDataOptions(Coordinate coordinate, ReportCategories parentCategory, ReportCategories childCategory,
      String description) {
    this(coordinate, parentCategory, childCategory, description, null);
  }

  private static long handleOf(ReportCategories category) {
    return category == null ? 0 : category.handle;
  }

  /** @return where the problem is; never {@code null} */
  public Coordinate getCoordinate() {
    try {
      double[] degrees = Native.optionsCoordinate(handle);
      return new Coordinate(degrees[0], degrees[1]);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @param coordinate where the problem is; not {@code null} */
  public void setCoordinate(Coordinate coordinate) {
    try {
      Native.setOptionsCoordinate(handle, coordinate.latitude(), coordinate.longitude());
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @return the user's text; never {@code null} */
  public String getFeedbackDescription() {
    try {
      return Native.optionsText(handle, 0);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @param description the user's text; not {@code null} */
  public void setFeedbackDescription(String description) {
    try {
      Native.setOptionsText(handle, 0, Objects.requireNonNull(description, "description"));
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @return the module that raises the report; {@code null} when none is named */
  public String getModuleId() {
    try {
      return Native.optionsText(handle, 1);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @param moduleId the module that raises the report; {@code null} for none */
  public void setModuleId(String moduleId) {
    try {
      Native.setOptionsText(handle, 1, moduleId);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @return the top-level category, the very record set; {@code null} when none is */
  public synchronized ReportCategories getParentCategory() {
    return parentCategory;
  }

  /** @param category the top-level category; {@code null} for none */
  public synchronized void setParentCategory(ReportCategories category) {
    Native.setOptionsCategory(handle, false, handleOf(category));
    parentCategory = category;
  }

  /** @return the sub-category, the very record set; {@code null} when none is */
  public synchronized ReportCategories getChildCategory() {
    return childCategory;
  }

  /** @param category the sub-category; {@code null} for none */
  public synchronized void setChildCategory(ReportCategories category) {
    Native.setOptionsCategory(handle, true, handleOf(category));
    childCategory = category;
  }
}
