package qtest;

import java.io.FileOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;

/**
 * The marker file of the Java stand-ins: one line per thing they were asked to do,
 * appended to the file named by the environment variable QUARVEL_JAVA_MARKER, so
 * that tests in another process can read what happened. Without the variable
 * nothing is written.
 */
public final class Marker {
    private Marker() {}

    public static synchronized void write(String line) {
        String path = System.getenv("QUARVEL_JAVA_MARKER");
        if (path == null || path.isEmpty()) return;
        try (FileOutputStream out = new FileOutputStream(path, true)) {
            out.write((line + "\n").getBytes(StandardCharsets.UTF_8));
        } catch (IOException e) {
            System.err.println("Marker: " + e);
        }
    }

    /** Whether the comma-separated list in QUARVEL_JAVA_SCRIPT holds the word. */
    public static boolean asked(String word) {
        String script = System.getenv("QUARVEL_JAVA_SCRIPT");
        if (script == null) return false;
        for (String w : script.split(",")) {
            if (w.trim().equals(word)) return true;
        }
        return false;
    }

    public static String hex(byte[] bytes) {
        StringBuilder text = new StringBuilder();
        for (byte b : bytes) text.append(String.format("%02x", b & 0xff));
        return text.toString();
    }
}
