package qtest;

import at.Quarvel.util.Launcher;

/**
 * The launcher started by a plain java command, without the host: the reference of
 * the start-up benchmark. Arguments as Launcher.main's; QUARVEL_JAVA_SCRIPT=bare.
 */
public final class BareLaunch {
    private BareLaunch() {}

    public static void main(String[] a) throws Exception {
        Launcher.main(a);
    }
}
