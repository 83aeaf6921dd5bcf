package at.Quarvel.util.jni;

/** Stand-in: window and shell services of the host. */
public class JUtil {
    public static native int getHwnd(String title);
    public static native void setWindowAlwaysOnTop(int hwnd, boolean top);
    public static native int findWindowPart(String part);
    public static native int shellExecute(String file);
    public static native int getHWNDfromTitle(String title);
}
