package at.Quarvel.util.jni;

/** Stand-in: hashing by the host. */
public class Hash {
    public static native byte[] hash(byte[] data, int algorithm);
}
