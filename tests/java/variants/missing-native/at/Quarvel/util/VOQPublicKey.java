package at.Quarvel.util;

import java.security.PublicKey;

/** Variant stand-in that lacks the native myGetEncoded, so that its registration fails. */
public class VOQPublicKey implements PublicKey {
    private static final long serialVersionUID = 1L;

    public VOQPublicKey() {}

    @Override
    public byte[] getEncoded() {
        return null;
    }

    @Override
    public String getAlgorithm() {
        return "DSA";
    }

    @Override
    public String getFormat() {
        return "X.509";
    }
}
