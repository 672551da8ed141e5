package org.orbisgrove.feedback;

import java.util.Objects;
import java.util.function.Consumer;

/** Process-wide settings an app makes before its first request. Every method may be called on any thread. */
public final class Settings {
  private Settings() {}

  /**
   * Points both shared clients at {@code https://host}; requests already running keep their host.
   *
   * @param host a host name, IPv4 address or bracketed IPv6 address with an optional ":port"; not {@code null}
   * @throws IllegalArgumentException for text from which no https URL can be formed
   */
  public static void setServiceHost(String host) {
    Native.load();
    Native.setServiceHost(Objects.requireNonNull(host, "host"));
  }

  /** @param directory a directory the app owns and keeps, for the outbox's store; not {@code null} */
  public static void setDataDirectory(String directory) {
    Native.load();
    Native.setDirectory(true, Objects.requireNonNull(directory, "directory"));
  }

  /** @param directory a directory the app owns, such as its cache directory, for the category cache; not {@code null} */
  public static void setTemporaryDirectory(String directory) {
    Native.load();
    Native.setDirectory(false, Objects.requireNonNull(directory, "directory"));
  }

  /** @param identifier the app's identity, sent with each report; {@code null} for none */
  public static void setBundleIdentifier(String identifier) {
    Native.load();
    Native.setBundleIdentifier(identifier);
  }

  /** @param pemFile certificate authorities the kit's own session trusts besides the system's; not {@code null} */
  public static void addTrustedCertificates(String pemFile) {
    Native.load();
    Native.addTrustedCertificates(Objects.requireNonNull(pemFile, "pemFile"));
  }

  /**
   * Receives each console line of the kit and of the binding (a callback that threw, for one), on the thread that
   * writes it.
   *
   * @param sink takes one line without line break; {@code null} restores standard error
   */
  public static void setConsoleSink(Consumer<String> sink) {
    Native.load();
    Native.setConsoleSink(sink);
  }
}
