package org.orbisgrove.feedback;

import java.lang.ref.Reference;

/**
 * One report category of the service's two-level tree. Every Java object of a record shares the kit's one record:
 * a change made through one is seen through every other, and by the options records that name it. Records come
 * only from the kit ({@link FeedbackKit#getReportCategories}); equal when they are the same record. No lock: a
 * record shared between threads is the caller's to synchronise.
 */
public final class ReportCategories {
  final long handle;

  ReportCategories(long handle) {
    this.handle = handle;
    Native.CLEANER.register(this, () -> Native.releaseCategory(handle));
  }

  /** @return the category's identifier ("reportId"); {@code null} when absent */
  public String getReportId() {
    try {
      return Native.categoryText(handle, 0);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @param reportId the new identifier; {@code null} for absent */
  public void setReportId(String reportId) {
    try {
      Native.setCategoryText(handle, 0, reportId);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @return the name to show the user ("reportName"); {@code null} when absent */
  public String getReportName() {
    try {
      return Native.categoryText(handle, 1);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @param reportName the new name; {@code null} for absent */
  public void setReportName(String reportName) {
    try {
      Native.setCategoryText(handle, 1, reportName);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @return the parent category's identifier ("parentId"); {@code null} when absent */
  public String getParentId() {
    try {
      return Native.categoryText(handle, 2);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @param parentId the new parent identifier; {@code null} for absent */
  public void setParentId(String parentId) {
    try {
      Native.setCategoryText(handle, 2, parentId);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @return the service's "created" number: a {@link Long}, or a {@link Double}; {@code null} when absent */
  public Number getCreated() {
    try {
      return Native.categoryCreated(handle);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @param created the new number (a {@link Double} or {@link Float} stays floating); {@code null} for absent */
  public void setCreated(Number created) {
    try {
      Native.setCategoryCreated(handle, Native.numberKind(created), created == null ? 0 : created.longValue(),
          created == null ? 0 : created.doubleValue());
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  @Override
  public boolean equals(Object other) {
    return other instanceof ReportCategories record && identity() == record.identity();
  }

  @Override
  public int hashCode() {
    return Long.hashCode(identity());
  }

  private long identity() {
    try {
      return Native.categoryIdentity(handle);
    } finally {
      Reference.reachabilityFence(this);
    }
  }
}
