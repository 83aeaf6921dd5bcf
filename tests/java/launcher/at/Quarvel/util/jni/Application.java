package at.Quarvel.util.jni;

/** Stand-in: the host's application and installation information. */
public class Application {
    public static native String getAppTitle();
    public static native String getPath();
    public static native String getInstallDir();
    public static native String getAccessData();
}
