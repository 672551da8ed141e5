package org.orbisgrove.feedback;

import java.lang.ref.Reference;

/**
 * The record the service created for a submitted report, as the service sent it. Shared like {@link
 * ReportCategories}: every Java object of a record sees the one record; equal when they are the same record.
 */
public final class UserDataInfo {
  final long handle;

  UserDataInfo(long handle) {
    this.handle = handle;
    Native.CLEANER.register(this, () -> Native.releaseInfo(handle));
  }

  /** @return the service's "dataCount": a {@link Long} or {@link Double}; {@code null} when absent */
  public Number getDataCount() {
    try {
      return Native.infoNumber(handle, 0);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @param dataCount the new number; {@code null} for absent */
  public void setDataCount(Number dataCount) {
    setNumber(0, dataCount);
  }

  /** @return the service's "name"; {@code null} when absent */
  public String getName() {
    try {
      return Native.infoText(handle, 0);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @param name the new text; {@code null} for absent */
  public void setName(String name) {
    try {
      Native.setInfoText(handle, 0, name);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @return the service's "exist": a {@link Long} or {@link Double}; {@code null} when absent */
  public Number getExist() {
    try {
      return Native.infoNumber(handle, 1);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @param exist the new number; {@code null} for absent */
  public void setExist(Number exist) {
    setNumber(1, exist);
  }

  /** @return the saved report's identifier ("id"); {@code null} when absent */
  public String getId() {
    try {
      return Native.infoText(handle, 1);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @param id the new identifier; {@code null} for absent */
  public void setId(String id) {
    try {
      Native.setInfoText(handle, 1, id);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @return the service's "listId": a {@link Long} or {@link Double}; {@code null} when absent */
  public Number getListId() {
    try {
      return Native.infoNumber(handle, 2);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @param listId the new number; {@code null} for absent */
  public void setListId(Number listId) {
    setNumber(2, listId);
  }

  /** @return when the service saved it ("time"), as the service wrote it; {@code null} when absent */
  public String getTime() {
    try {
      return Native.infoText(handle, 2);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @param time the new text; {@code null} for absent */
  public void setTime(String time) {
    try {
      Native.setInfoText(handle, 2, time);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @return the service's "url"; {@code null} when absent */
  public String getUrl() {
    try {
      return Native.infoText(handle, 3);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @param url the new text; {@code null} for absent */
  public void setUrl(String url) {
    try {
      Native.setInfoText(handle, 3, url);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  private void setNumber(int field, Number value) {
    try {
      Native.setInfoNumber(handle, field, Native.numberKind(value), value == null ? 0 : value.longValue(),
          value == null ? 0 : value.doubleValue());
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  @Override
  public boolean equals(Object other) {
    return other instanceof UserDataInfo record && identity() == record.identity();
  }

  @Override
  public int hashCode() {
    return Long.hashCode(identity());
  }

  private long identity() {
    try {
      return Native.infoIdentity(handle);
    } finally {
      Reference.reachabilityFence(this);
    }
  }
}
