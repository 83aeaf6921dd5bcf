package at.Quarvel.util;

import java.io.OutputStream;

/** Stand-in: the console stream the host puts behind System.out and System.err. */
public class VOQOutputStream extends OutputStream {
    private final int level;

    public VOQOutputStream(int level) {
        this.level = level;
    }

    public native void VOQwrite(int c, int level);

    @Override
    public void write(int b) {
        VOQwrite(b, level);
    }
}
