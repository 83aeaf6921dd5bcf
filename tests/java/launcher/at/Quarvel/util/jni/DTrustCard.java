package at.Quarvel.util.jni;

/** Stand-in: the D-Trust card type. */
public class DTrustCard extends SCard {
    public DTrustCard() {}
}
