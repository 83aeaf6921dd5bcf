package at.Quarvel.util.jni;

/** Stand-in: the host's reader factory. */
public class ReaderFactory {
    public static native Reader getReader();
    public static native int releaseInstance(Reader reader);
}
