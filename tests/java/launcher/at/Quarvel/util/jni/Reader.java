package at.Quarvel.util.jni;

/** Stand-in: a card reader of the host; peer is the id of the native reader. */
public class Reader {
    public int peer;

    public Reader() {}

    public native SCard connect() throws CardAdminException;
    public native int disconnect();
    public native String getName() throws CardAdminException;
    public native int getStatus();
    public native boolean shallUseGUI() throws CardAdminException;
    public native int modifyVerification(int a, int b, int c);
    public native int performVerification(int a, int b, int c);
    public native int performVerification_EXT(int a, int b, int c, int d, int e, byte[] f, byte[] g);
    public native boolean isSecure() throws CardAdminException;
    public native int reset(boolean cold) throws CardAdminException;
    public native int activateVerification(int a, int b, int c);
    public native String getCTAPIName() throws CardAdminException;
    public native int activateVerification_KOBIL(int a, int b, int c);
}
