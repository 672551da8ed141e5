package org.orbisgrove.feedback;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyStore;
import java.security.cert.CertificateFactory;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import javax.net.ssl.SSLContext;
import javax.net.ssl.TrustManagerFactory;

/** The reference service (the tool's "serve" command) as a child process on a free port of 127.0.0.1. */
final class LocalService implements AutoCloseable {
  final Process process;
  final String host;
  final String caFile;

  LocalService(String... extraArguments) throws IOException {
    List<String> command = new ArrayList<>(List.of(System.getProperty("orbisgrove.tool"), "serve", "--port", "0",
        "--bind", "127.0.0.1"));
    command.addAll(List.of(extraArguments));
    process = new ProcessBuilder(command).redirectError(ProcessBuilder.Redirect.INHERIT).start();
    BufferedReader out = new BufferedReader(new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8));
    String url = out.readLine();
    String ca = out.readLine();
    if (url == null || ca == null) {
      throw new IOException("the reference service did not start");
    }
    host = url.replaceFirst("^listening on https://", "").replaceFirst("/.*$", "");
    caFile = ca.replaceFirst("^trust this CA: ", "");
  }

  /** A TLS context that trusts the service's own authority. */
  SSLContext tls() throws Exception {
    KeyStore store = KeyStore.getInstance(KeyStore.getDefaultType());
    store.load(null, null);
    store.setCertificateEntry("service",
        CertificateFactory.getInstance("X.509").generateCertificate(Files.newInputStream(Path.of(caFile))));
    TrustManagerFactory trust = TrustManagerFactory.getInstance(TrustManagerFactory.getDefaultAlgorithm());
    trust.init(store);
    SSLContext context = SSLContext.getInstance("TLS");
    context.init(null, trust.getTrustManagers(), null);
    return context;
  }

  @Override
  public void close() {
    process.destroy();
    try {
      // A service holding stalled requests does not stop on its own.
      if (!process.waitFor(2, TimeUnit.SECONDS)) process.destroyForcibly().waitFor();
    } catch (InterruptedException interrupted) {
      Thread.currentThread().interrupt();
    }
  }
}
