package at.Quarvel.util;

import java.io.File;
import java.io.PrintStream;
import java.math.BigInteger;
import java.net.URL;
import java.security.KeyFactory;
import java.security.PublicKey;
import java.security.interfaces.DSAPublicKey;
import java.security.spec.X509EncodedKeySpec;
import java.util.ArrayList;
import java.util.List;
import java.util.TreeSet;
import qtest.Marker;

/**
 * Stand-in of the application's launcher: main(installDir, Main-Class, verbosity)
 * makes the class loader, lets the host add the archives, loads the application's
 * main class through it and returns the loader. Each step is written to the marker
 * file; QUARVEL_JAVA_SCRIPT asks for further steps (see tests/java/README.md).
 */
public final class Launcher {
    private Launcher() {}

    public static ClassLoader main(String[] a) throws Exception {
        Marker.write("Launcher.main " + String.join("|", a));
        if (Marker.asked("throw")) throw new IllegalStateException("Launcher stand-in asked to fail");

        LauncherLoader loader = new LauncherLoader(new File(a[0]));
        if (Marker.asked("bare")) {
            // Started by a plain java command (qtest.BareLaunch): no host, so no natives;
            // the archives come from the property qtest.classpath.
            for (String entry : System.getProperty("qtest.classpath", "").split(";"))
                loader.addArchive(new File(loader.fileBase, entry).toURI().toURL());
        } else {
            Marker.write("addPath " + loader.addPath());
            Marker.write("registerNatives " + loader.registerNatives("Launcher", Launcher.class));
        }
        for (URL url : loader.getURLs()) Marker.write("url " + url);

        System.out.println("Launcher: System.out text");
        System.err.println("Launcher: System.err text");
        Marker.write("maxMemory " + Runtime.getRuntime().maxMemory());
        for (String name : new TreeSet<>(System.getProperties().stringPropertyNames())) {
            if (name.startsWith("qtest.") || name.equals("Quarvel.config"))
                Marker.write("property " + name + "=" + System.getProperty(name));
        }

        if (Marker.asked("rootkey")) rootKey(loader);
        if (Marker.asked("level200")) new PrintStream(new VOQOutputStream(200), true).println("level 200 text");
        if (Marker.asked("stress")) stress();
        if (Marker.asked("prompts")) prompts();

        Runtime.getRuntime().addShutdownHook(new Thread(() -> Marker.write("shutdown hook ran")));
        if (a.length > 1 && !a[1].isEmpty()) {
            Class<?> app = Class.forName(a[1], true, loader);
            Marker.write("main class " + app.getName() + " by " + app.getClassLoader().getClass().getName());
        }
        return loader;
    }

    private static void rootKey(LauncherLoader loader) throws Exception {
        PublicKey key = loader.getRootKey();
        Marker.write("rootKey " + (key == null ? "null" : key.getClass().getName()));
        if (key == null) return;
        byte[] encoded = key.getEncoded();
        Marker.write("encoded " + Marker.hex(encoded));
        DSAPublicKey dsa = (DSAPublicKey) KeyFactory.getInstance("DSA").generatePublic(new X509EncodedKeySpec(encoded));
        BigInteger p = dsa.getParams().getP();
        Marker.write("keyFactory " + dsa.getAlgorithm() + " p=" + p.bitLength() + " q=" + dsa.getParams().getQ().bitLength());
    }

    // Text without a line end: from a thread that then ends, and from the main thread,
    // which goes on without printing anything more.
    private static void prompts() throws InterruptedException {
        Thread asking = new Thread(() -> System.out.print("Bitte PIN eingeben: "));
        asking.start();
        asking.join();
        System.err.print("Warte auf Karte ... ");
        Marker.write("prompts done");
    }

    // Four threads print 10 000 lines each, alternating System.out and System.err.
    private static void stress() throws InterruptedException {
        List<Thread> threads = new ArrayList<>();
        for (int t = 0; t < 4; t++) {
            final int id = t;
            Thread thread = new Thread(() -> {
                for (int i = 0; i < 10000; i++) {
                    PrintStream stream = (i % 2 == 0) ? System.out : System.err;
                    stream.println("stress thread " + id + " line " + i + " end");
                }
            });
            threads.add(thread);
            thread.start();
        }
        for (Thread thread : threads) thread.join();
        Marker.write("stress done");
    }
}
