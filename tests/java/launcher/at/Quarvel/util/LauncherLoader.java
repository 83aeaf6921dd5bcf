package at.Quarvel.util;

import java.io.File;
import java.net.URL;
import java.net.URLClassLoader;
import java.security.PublicKey;
import qtest.Marker;

/**
 * Stand-in: the application's class loader; the host adds its archives (addPath)
 * relative to fileBase. findClass answers a class it has already loaded, because the
 * host asks the loader's findClass for classes the application may have loaded before.
 */
public class LauncherLoader extends URLClassLoader {
    File fileBase;

    public LauncherLoader(File fileBase) {
        super(new URL[0], LauncherLoader.class.getClassLoader());
        this.fileBase = fileBase;
    }

    public native boolean registerNatives(String name, Class<?> cls);

    public native PublicKey getRootKey();

    public native boolean addPath();

    /** For a start without the host (qtest.BareLaunch), where addPath is not bound. */
    void addArchive(URL url) {
        addURL(url);
    }

    @Override
    protected Class<?> findClass(String name) throws ClassNotFoundException {
        if (name.startsWith("at.Quarvel.riverod.") || name.startsWith("at.Quarvel.card."))
            Marker.write("findClass " + name);
        Class<?> loaded = findLoadedClass(name);
        if (loaded != null) return loaded;
        return super.findClass(name);
    }
}
